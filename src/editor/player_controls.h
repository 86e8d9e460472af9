#pragma once

#include <QWidget>

class PlayPauseButton;
class QLabel;
class QSlider;

// The floating bar over the movie: play/pause, a position slider and the
// time ("0:03 / 0:10"), white on translucent dark whatever the theme, as it
// always sits on a picture. Says what the person asked for; the player
// decides.
class PlayerControls : public QWidget {
    Q_OBJECT

public:
    explicit PlayerControls(QWidget* parent = nullptr);

    void setPlaying(bool playing);
    void setDuration(qint64 milliseconds);
    void setPosition(qint64 milliseconds);

    PlayPauseButton* playPauseButton() const { return m_playPause; }
    QSlider* positionSlider() const { return m_position; }
    QString timeText() const;

    // "m:ss", or "h:mm:ss" from an hour on.
    static QString formatTime(qint64 milliseconds);

Q_SIGNALS:
    void playPauseClicked();
    void seekRequested(qint64 milliseconds);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void showTime();

    PlayPauseButton* m_playPause;
    QSlider* m_position;
    QLabel* m_time;
    qint64 m_duration = 0;
    qint64 m_positionMs = 0;
};
