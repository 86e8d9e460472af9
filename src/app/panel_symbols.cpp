#include "panel_symbols.h"

#include <QIconEngine>
#include <QImage>
#include <QPainter>
#include <QStringList>

namespace {

// Freedesktop names closest to each symbol, most specific first.
QStringList themeNames(PanelSymbol symbol)
{
    switch (symbol) {
    case PanelSymbol::window:
        return {QStringLiteral("window"), QStringLiteral("window-new")};
    case PanelSymbol::crop:
        return {QStringLiteral("transform-crop"), QStringLiteral("edit-crop"),
                QStringLiteral("image-crop")};
    case PanelSymbol::photo:
        return {QStringLiteral("image-x-generic")};
    case PanelSymbol::film:
        return {QStringLiteral("video-x-generic")};
    case PanelSymbol::power:
        return {QStringLiteral("system-shutdown")};
    }
    return {};
}

// Strokes on an 18-unit square, scaled to whatever size is asked for.
void drawSymbol(QPainter& painter, PanelSymbol symbol)
{
    QPen pen(Qt::black, 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    switch (symbol) {
    case PanelSymbol::window:
        painter.drawRoundedRect(QRectF(1.75, 3, 14.5, 12), 2.5, 2.5);
        painter.drawLine(QPointF(1.75, 6.5), QPointF(16.25, 6.5));
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::black);
        for (qreal x : {4.0, 6.2, 8.4})
            painter.drawEllipse(QPointF(x, 4.8), 0.8, 0.8);
        break;
    case PanelSymbol::crop:
        painter.drawPolyline(QPolygonF{{5, 1.5}, {5, 13}, {16.5, 13}});
        painter.drawPolyline(QPolygonF{{1.5, 5}, {13, 5}, {13, 16.5}});
        break;
    case PanelSymbol::photo: {
        painter.drawRoundedRect(QRectF(1.5, 3, 15, 12), 2, 2);
        painter.drawPolyline(QPolygonF{{2, 14}, {7, 8.5}, {10.5, 12}, {12.5, 10}, {16, 13.5}});
        painter.drawEllipse(QPointF(12, 6.5), 1.3, 1.3);
        break;
    }
    case PanelSymbol::film:
        painter.drawRoundedRect(QRectF(2.5, 2, 13, 14), 2, 2);
        painter.drawLine(QPointF(5.5, 2), QPointF(5.5, 16));
        painter.drawLine(QPointF(12.5, 2), QPointF(12.5, 16));
        painter.drawLine(QPointF(5.5, 9), QPointF(12.5, 9));
        for (qreal y : {5.0, 9.0, 13.0}) {
            painter.drawLine(QPointF(2.5, y), QPointF(5.5, y));
            painter.drawLine(QPointF(12.5, y), QPointF(15.5, y));
        }
        break;
    case PanelSymbol::power:
        // A ring open at the top, where the stem stands.
        painter.drawArc(QRectF(2.5, 3, 13, 13), 120 * 16, 300 * 16);
        painter.drawLine(QPointF(9, 1.5), QPointF(9, 8.5));
        break;
    }
}

class DrawnSymbolEngine : public QIconEngine {
public:
    explicit DrawnSymbolEngine(PanelSymbol symbol) : m_symbol(symbol) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode, QIcon::State) override
    {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->translate(rect.topLeft());
        painter->scale(rect.width() / 18.0, rect.height() / 18.0);
        drawSymbol(*painter, m_symbol);
        painter->restore();
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        QImage image(size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        paint(&painter, image.rect(), mode, state);
        painter.end();
        return QPixmap::fromImage(image);
    }

    QIconEngine* clone() const override { return new DrawnSymbolEngine(m_symbol); }
    QString key() const override { return QStringLiteral("QuorvelPanelSymbol"); }

private:
    PanelSymbol m_symbol;
};

} // namespace

QIcon drawnPanelSymbol(PanelSymbol symbol)
{
    return QIcon(new DrawnSymbolEngine(symbol));
}

bool usableAsPanelSymbol(const QIcon& icon, int size)
{
    const QImage image = icon.pixmap(QSize(size, size), 1.0).toImage();
    // Themes without the size fall back to a much smaller picture, which
    // would sit lost in the entry.
    if (image.isNull() || 4 * image.width() < 3 * size || 4 * image.height() < 3 * size)
        return false;
    qsizetype covered = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            covered += qAlpha(image.pixel(x, y)) >= 128;
    }
    // A template symbol is strokes on a clear ground. Full-colour artwork (the
    // usual theme icon for a file type) covers most of its square and would
    // turn into a solid block once filled with the label's colour.
    const qsizetype area = qsizetype(image.width()) * image.height();
    return covered > 0 && 2 * covered <= area;
}

QIcon panelSymbol(PanelSymbol symbol)
{
    for (const QString& name : themeNames(symbol)) {
        if (!QIcon::hasThemeIcon(name))
            continue;
        const QIcon icon = QIcon::fromTheme(name);
        if (usableAsPanelSymbol(icon, kPanelSymbolSize))
            return icon;
    }
    return drawnPanelSymbol(symbol);
}
