#pragma once

#include <QColor>
#include <QImage>
#include <QList>
#include <QMetaType>
#include <memory>

// The background a capture is shown and exported on: six presets and three
// kinds the user makes. A small value, copied freely; the picture of a
// customImage is shared, never copied, and two styles holding pictures are
// equal only when they hold the very same picture object.
class GradientStyle {
public:
    // In this order everywhere (the sidebar lists the presets in its own order).
    enum class Kind {
        customColor,
        customGradient,
        customImage,
        bluePurple,
        sunset,
        greenYellow,
        ocean,
        warmGlow,
        dreamyPink,
    };

    // bluePurple, the editor's starting background.
    GradientStyle() = default;

    static GradientStyle customColor(const QColor& color);
    static GradientStyle customGradient(const QList<QColor>& colors);
    // A null picture is kept as given; it paints nothing.
    static GradientStyle customImage(std::shared_ptr<const QImage> picture);
    static GradientStyle bluePurple() { return GradientStyle(Kind::bluePurple); }
    static GradientStyle sunset() { return GradientStyle(Kind::sunset); }
    static GradientStyle greenYellow() { return GradientStyle(Kind::greenYellow); }
    static GradientStyle ocean() { return GradientStyle(Kind::ocean); }
    static GradientStyle warmGlow() { return GradientStyle(Kind::warmGlow); }
    static GradientStyle dreamyPink() { return GradientStyle(Kind::dreamyPink); }

    Kind kind() const { return m_kind; }
    bool isPreset() const { return m_kind >= Kind::bluePurple; }

    // The colours from the gradient's start to its end: one for customColor,
    // the user's list for customGradient, none for customImage.
    QList<QColor> colors() const;

    // The picture of a customImage, null for every other kind.
    const std::shared_ptr<const QImage>& image() const { return m_image; }

    friend bool operator==(const GradientStyle& a, const GradientStyle& b);

private:
    explicit GradientStyle(Kind kind) : m_kind(kind) {}

    Kind m_kind = Kind::bluePurple;
    QList<QColor> m_colors;                // customColor (one) and customGradient
    std::shared_ptr<const QImage> m_image; // customImage
};

// Carried by the editor's signals.
Q_DECLARE_METATYPE(GradientStyle)
