#pragma once

#include "movie_frame_reader.h"
#include "video_frame_converter.h"

#include <QImage>
#include <QUrl>
#include <QVideoFrame>
#include <QWidget>
#include <memory>
#include <mutex>

class PlayerControls;
class QAudioOutput;
class QGraphicsOpacityEffect;
class QMediaPlayer;
class QVideoSink;

// Plays a movie file inside the editor: starts at once, stretches the
// picture to the widget's bounds (the parent gives it the movie's shape, see
// movieSize()), clips its own corners to `cornerRadius`, and shows floating
// play/pause, position and time controls while the pointer is over it. A
// movie that cannot be played shows a plain message instead of a picture.
//
// Frames are decoded by Qt Multimedia's FFmpeg backend and painted here, at
// the widget's device pixel ratio; only the latest frame is kept.
class VideoPlayerView : public QWidget {
    Q_OBJECT

public:
    VideoPlayerView(const QUrl& url, double cornerRadius, QWidget* parent = nullptr);
    ~VideoPlayerView() override;

    QUrl url() const { return m_url; }
    double cornerRadius() const { return m_cornerRadius; }

    // The view made again with new values: a different movie replaces the
    // player and plays from its start; the same movie goes on playing.
    void setUrl(const QUrl& url);
    void setCornerRadius(double radius);

    // The last frame shown, in device pixels (the widget's size times its
    // device pixel ratio), null before the first.
    QImage currentFrame() const { return m_frame; }
    // The movie's picture size in pixels, known from its first frame; empty
    // before it.
    QSize movieSize() const { return m_movieSize; }
    // Empty while all is well; otherwise the reason shown under
    // "This movie can't be previewed".
    QString errorText() const { return m_errorText; }

    bool isPlaying() const;
    bool controlsShown() const { return m_controlsShown; }
    PlayerControls* controls() const { return m_controls; }

Q_SIGNALS:
    void frameShown();
    // movieSize() changed: emitted before the first frame of a movie is shown.
    void movieSizeChanged();
    void playbackFailed(const QString& reason);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void startPlayer();
    void stopPlayer();
    void receiveFrame(const QVideoFrame& frame);
    void showPendingFrame();
    bool convertFrame();
    Result<void> convertShownFrame(QSize size);
    Result<void> chooseFrameSource(const QVideoFrame& frame);
    void fail(const QString& reason);
    void togglePlayback();
    void seekBy(qint64 milliseconds);
    void updateControls();
    void placeControls();
    void paintMessage(QPainter& painter, const QRectF& bounds);
    QSize framePixelSize() const;

    QUrl m_url;
    double m_cornerRadius;
    QImage m_frame;
    QSize m_movieSize;
    QString m_errorText;
    VideoFrameConverter m_converter;
    // The frame behind m_frame, converted again when the size changes.
    QVideoFrame m_shownFrame;
    // Pictures Qt mislabels come from here instead; null while Qt's are right.
    std::unique_ptr<MovieFrameReader> m_reader;
    bool m_frameSourceChosen = false;

    // Frames arrive on the decoder's thread; only the newest one waits for
    // the GUI thread, so a busy GUI drops frames instead of queueing them.
    std::mutex m_pendingLock;
    QVideoFrame m_pendingFrame;
    bool m_pendingPosted = false;

    PlayerControls* m_controls;
    QGraphicsOpacityEffect* m_controlsOpacity;
    bool m_controlsShown = false;
    bool m_hovered = false;
    // Counts players made, so a late step for an earlier movie can tell.
    int m_movieNumber = 0;

    // Declared last so the player (and its threads) go first.
    std::unique_ptr<QVideoSink> m_sink;
    std::unique_ptr<QAudioOutput> m_audio;
    std::unique_ptr<QMediaPlayer> m_player;
};
