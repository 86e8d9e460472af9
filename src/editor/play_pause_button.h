#pragma once

#include <QAbstractButton>

// The player's play/pause button: a white glyph for the dark control bar,
// named "Play" or "Pause" after what a press does.
class PlayPauseButton : public QAbstractButton {
    Q_OBJECT

public:
    explicit PlayPauseButton(QWidget* parent = nullptr);

    bool showsPause() const { return m_showsPause; }
    void setShowsPause(bool showsPause);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool m_showsPause = false;
};
