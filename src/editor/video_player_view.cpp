#include "video_player_view.h"

#include "ffmpeg_media_backend.h"
#include "player_controls.h"

#include <QApplication>
#include <QAudioDevice>
#include <QAudioOutput>
#include <QFileInfo>
#include <QGraphicsOpacityEffect>
#include <QKeyEvent>
#include <QMediaDevices>
#include <QMediaPlayer>
#include <QPainter>
#include <QPainterPath>
#include <QVideoSink>
#include <algorithm>
#include <cmath>

namespace {

constexpr int kControlsMargin = 12;
constexpr int kControlsHeight = 36;
constexpr int kControlsMaxWidth = 520;
constexpr qint64 kArrowSeek = 5000;

// Two URLs name the same movie when they lead to the same file.
bool sameMovie(const QUrl& a, const QUrl& b)
{
    if (a.isLocalFile() && b.isLocalFile()) {
        const QFileInfo first(a.toLocalFile());
        const QFileInfo second(b.toLocalFile());
        const QString firstPath = first.canonicalFilePath();
        if (!firstPath.isEmpty())
            return firstPath == second.canonicalFilePath();
        return first.absoluteFilePath() == second.absoluteFilePath();
    }
    return a.adjusted(QUrl::NormalizePathSegments) == b.adjusted(QUrl::NormalizePathSegments);
}

} // namespace

VideoPlayerView::VideoPlayerView(const QUrl& url, double cornerRadius, QWidget* parent)
    : QWidget(parent), m_url(url), m_cornerRadius(cornerRadius),
      m_controls(new PlayerControls(this)), m_controlsOpacity(new QGraphicsOpacityEffect(this))
{
    // Harmless when main() did it already; it must precede every media object.
    useFfmpegMediaBackend();

    setFocusPolicy(Qt::ClickFocus);
    // No minimum: the editor insets the movie by the padding, and that inset
    // wins over the controls in a small window.

    // The bar stays in the widget tree (so Tab reaches its controls) and is
    // faded out rather than hidden.
    m_controls->setGraphicsEffect(m_controlsOpacity);
    m_controlsOpacity->setOpacity(0);
    connect(m_controls, &PlayerControls::playPauseClicked, this, &VideoPlayerView::togglePlayback);
    connect(m_controls, &PlayerControls::seekRequested, this, [this](qint64 position) {
        if (m_player)
            m_player->setPosition(position);
    });
    connect(qApp, &QApplication::focusChanged, this, &VideoPlayerView::updateControls);

    startPlayer();
}

VideoPlayerView::~VideoPlayerView()
{
    // QWidget's destructor moves the focus off our children, after this part
    // of the object is gone.
    disconnect(qApp, &QApplication::focusChanged, this, nullptr);
    stopPlayer();
}

void VideoPlayerView::setUrl(const QUrl& url)
{
    if (sameMovie(url, m_url))
        return;
    m_url = url;
    startPlayer();
}

void VideoPlayerView::setCornerRadius(double radius)
{
    m_cornerRadius = radius;
    update();
}

bool VideoPlayerView::isPlaying() const
{
    return m_player && m_player->playbackState() == QMediaPlayer::PlayingState;
}

void VideoPlayerView::stopPlayer()
{
    // Deleting the player joins its decoding threads, so no frame can arrive
    // after this.
    m_player.reset();
    m_audio.reset();
    m_sink.reset();
    const std::lock_guard lock(m_pendingLock);
    m_pendingFrame = {};
}

void VideoPlayerView::startPlayer()
{
    stopPlayer();
    ++m_movieNumber;
    m_frame = {};
    m_shownFrame = {};
    m_reader.reset();
    m_frameSourceChosen = false;
    m_errorText.clear();
    if (!m_movieSize.isEmpty()) {
        m_movieSize = {};
        Q_EMIT movieSizeChanged();
    }
    m_controls->setPlaying(false);
    m_controls->setDuration(0);
    m_controls->setPosition(0);
    updateControls();
    update();

    if (m_url.isLocalFile() && !QFileInfo::exists(m_url.toLocalFile())) {
        fail(tr("The file can't be found."));
        return;
    }

    m_sink = std::make_unique<QVideoSink>();
    connect(
        m_sink.get(), &QVideoSink::videoFrameChanged, this,
        [this](const QVideoFrame& frame) { receiveFrame(frame); }, Qt::DirectConnection);

    m_player = std::make_unique<QMediaPlayer>();
    m_player->setVideoOutput(m_sink.get());
    // Qt 6.4's FFmpeg backend crashes with an audio output when the machine
    // has no sound device, so sound is wired only when there is one.
    if (!QMediaDevices::audioOutputs().isEmpty()) {
        m_audio = std::make_unique<QAudioOutput>();
        m_player->setAudioOutput(m_audio.get());
    }

    QMediaPlayer* player = m_player.get();
    connect(player, &QMediaPlayer::errorOccurred, this,
            [this](QMediaPlayer::Error, const QString& text) {
                fail(text.isEmpty() ? tr("The movie could not be read.") : text);
            });
    connect(player, &QMediaPlayer::mediaStatusChanged, this,
            [this, player](QMediaPlayer::MediaStatus status) {
                if (status == QMediaPlayer::InvalidMedia)
                    fail(tr("The movie could not be read."));
                else if (status == QMediaPlayer::LoadedMedia && !player->hasVideo())
                    fail(tr("The file has no picture."));
            });
    connect(player, &QMediaPlayer::playbackStateChanged, this,
            [this](QMediaPlayer::PlaybackState state) {
                m_controls->setPlaying(state == QMediaPlayer::PlayingState);
            });
    connect(player, &QMediaPlayer::durationChanged, m_controls, &PlayerControls::setDuration);
    connect(player, &QMediaPlayer::positionChanged, m_controls, &PlayerControls::setPosition);

    m_player->setSource(m_url);
    if (m_player)
        m_player->play();
}

void VideoPlayerView::receiveFrame(const QVideoFrame& frame)
{
    // Runs on whichever thread the backend renders on.
    if (!frame.isValid())
        return; // the end or a stop: keep showing the last picture
    const std::lock_guard lock(m_pendingLock);
    m_pendingFrame = frame;
    if (m_pendingPosted)
        return;
    m_pendingPosted = true;
    QMetaObject::invokeMethod(this, &VideoPlayerView::showPendingFrame, Qt::QueuedConnection);
}

void VideoPlayerView::showPendingFrame()
{
    QVideoFrame frame;
    {
        const std::lock_guard lock(m_pendingLock);
        m_pendingPosted = false;
        std::swap(frame, m_pendingFrame);
    }
    if (!frame.isValid() || !m_errorText.isEmpty())
        return;
    // Before the frame is kept, so the new size's resize converts nothing twice.
    if (frame.size() != m_movieSize) {
        m_movieSize = frame.size();
        Q_EMIT movieSizeChanged();
    }
    m_shownFrame = frame;
    if (convertFrame())
        Q_EMIT frameShown();
}

bool VideoPlayerView::convertFrame()
{
    const QSize size = framePixelSize();
    if (size.isEmpty())
        return false; // not laid out yet; converted when it gets a size
    const Result<void> converted = convertShownFrame(size);
    if (!converted.ok()) {
        fail(converted.error());
        return false;
    }
    update();
    return true;
}

Result<void> VideoPlayerView::convertShownFrame(QSize size)
{
    if (!m_frameSourceChosen) {
        if (auto chosen = chooseFrameSource(m_shownFrame); !chosen.ok())
            return chosen;
    }
    if (!m_reader)
        return m_converter.convert(m_shownFrame, size, m_frame);
    qint64 time = m_shownFrame.startTime();
    if (time < 0 && m_player)
        time = m_player->position() * 1000;
    const Result<const AVFrame*> picture = m_reader->pictureAt(time);
    if (!picture.ok())
        return Result<void>::failure(picture.error());
    return m_converter.convert(*picture.value(), size, m_frame);
}

Result<void> VideoPlayerView::chooseFrameSource(const QVideoFrame& frame)
{
    m_frameSourceChosen = true;
    // Qt 6.4 gives these names to layouts it does not know and passes their
    // data on as it is; the movie's own layout tells whether the name is true.
    const QVideoFrameFormat::PixelFormat label = frame.pixelFormat();
    if (label != QVideoFrameFormat::Format_YUV420P && label != QVideoFrameFormat::Format_P016 &&
        label != QVideoFrameFormat::Format_RGBA8888)
        return {};
    if (!m_url.isLocalFile())
        return {};
    Result<std::unique_ptr<MovieFrameReader>> reader = MovieFrameReader::open(m_url.toLocalFile());
    if (!reader.ok())
        return Result<void>::failure(reader.error());
    if (reader.value()->pixelFormat() != VideoFrameConverter::avPixelFormat(label))
        m_reader = std::move(reader).value();
    return {};
}

QSize VideoPlayerView::framePixelSize() const
{
    const qreal ratio = devicePixelRatioF();
    return {int(std::lround(width() * ratio)), int(std::lround(height() * ratio))};
}

void VideoPlayerView::fail(const QString& reason)
{
    if (!m_errorText.isEmpty())
        return; // the first reason is the one that matters
    m_errorText = reason;
    m_frame = {};
    m_shownFrame = {};
    // Stopped later: this can run inside the player's own signal.
    QMetaObject::invokeMethod(
        this,
        [this, reason, movie = m_movieNumber] {
            if (movie == m_movieNumber)
                stopPlayer();
            Q_EMIT playbackFailed(reason);
        },
        Qt::QueuedConnection);
    updateControls();
    update();
}

void VideoPlayerView::togglePlayback()
{
    if (!m_player)
        return;
    if (isPlaying())
        m_player->pause();
    else
        m_player->play();
}

void VideoPlayerView::seekBy(qint64 milliseconds)
{
    if (!m_player)
        return;
    const qint64 duration = m_player->duration();
    m_player->setPosition(std::clamp<qint64>(m_player->position() + milliseconds, 0, duration));
}

void VideoPlayerView::updateControls()
{
    const QWidget* focused = QApplication::focusWidget();
    const bool focusInside = focused && m_controls->isAncestorOf(focused);
    const bool shown = m_errorText.isEmpty() && (m_hovered || focusInside);
    if (shown == m_controlsShown)
        return;
    m_controlsShown = shown;
    m_controlsOpacity->setOpacity(shown ? 1 : 0);
    // A faded bar must not catch clicks meant for the picture.
    m_controls->setAttribute(Qt::WA_TransparentForMouseEvents, !shown);
}

void VideoPlayerView::placeControls()
{
    const int width = std::min(kControlsMaxWidth, this->width() - 2 * kControlsMargin);
    m_controls->setGeometry((this->width() - width) / 2,
                            height() - kControlsMargin - kControlsHeight, std::max(width, 0),
                            kControlsHeight);
}

void VideoPlayerView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    placeControls();
    if (m_shownFrame.isValid())
        convertFrame();
}

void VideoPlayerView::enterEvent(QEnterEvent* event)
{
    QWidget::enterEvent(event);
    m_hovered = true;
    updateControls();
}

void VideoPlayerView::leaveEvent(QEvent* event)
{
    QWidget::leaveEvent(event);
    m_hovered = false;
    updateControls();
}

void VideoPlayerView::keyPressEvent(QKeyEvent* event)
{
    // Keys the focused control leaves unused reach the view.
    switch (event->key()) {
    case Qt::Key_Space:
        togglePlayback();
        break;
    case Qt::Key_Left:
        seekBy(-kArrowSeek);
        break;
    case Qt::Key_Right:
        seekBy(kArrowSeek);
        break;
    default:
        QWidget::keyPressEvent(event);
    }
}

void VideoPlayerView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRectF bounds = rect();
    const qreal radius =
        std::clamp<qreal>(m_cornerRadius, 0, std::min(bounds.width(), bounds.height()) / 2);
    QPainterPath shape;
    shape.addRoundedRect(bounds, radius, radius);

    if (!m_errorText.isEmpty()) {
        painter.fillPath(shape, palette().window());
        paintMessage(painter, bounds);
        return;
    }
    // A new device pixel ratio (another screen) needs the picture made again.
    if (m_shownFrame.isValid() && m_frame.size() != framePixelSize())
        convertFrame();
    if (m_frame.isNull())
        return; // nothing decoded yet: whatever is behind shows through
    if (radius <= 0) {
        painter.drawImage(bounds, m_frame);
        return;
    }
    // Filling the rounded shape with the frame gives antialiased corners,
    // which a clip path would not.
    QBrush picture(m_frame);
    picture.setTransform(QTransform::fromScale(bounds.width() / m_frame.width(),
                                               bounds.height() / m_frame.height()));
    painter.fillPath(shape, picture);
}

void VideoPlayerView::paintMessage(QPainter& painter, const QRectF& bounds)
{
    const QRectF area = bounds.adjusted(16, 16, -16, -16);
    QFont headline = font();
    headline.setBold(true);
    QFont caption = font();
    caption.setPointSizeF(caption.pointSizeF() * 0.85);
    const QString title = tr("This movie can't be previewed");
    const int flags = Qt::AlignHCenter | Qt::TextWordWrap;

    const QRectF titleSize = QFontMetricsF(headline).boundingRect(area, flags, title);
    const QRectF reasonSize = QFontMetricsF(caption).boundingRect(area, flags, m_errorText);
    const qreal spacing = 4;
    qreal top = area.center().y() - (titleSize.height() + spacing + reasonSize.height()) / 2;

    const QColor text = palette().color(QPalette::WindowText);
    painter.setPen(text);
    painter.setFont(headline);
    painter.drawText(QRectF(area.left(), top, area.width(), titleSize.height()), flags, title);
    top += titleSize.height() + spacing;
    QColor secondary = text;
    secondary.setAlphaF(0.5f * text.alphaF());
    painter.setPen(secondary);
    painter.setFont(caption);
    painter.drawText(QRectF(area.left(), top, area.width(), reasonSize.height()), flags,
                     m_errorText);
}
