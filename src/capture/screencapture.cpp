#include "screencapture.h"

#include "console.h"
#include "image_loader.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QTimer>
#include <memory>

namespace {

// How long a cancelled capture waits for the clipboard to come back with the focus.
constexpr int kClipboardAfterFocusMs = 1500;

// The formats the compositor draws from fastest; alpha kept only when there is some.
QImage drawable(const QImage& image)
{
    return image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                                         : QImage::Format_RGB32);
}

bool samePixels(const QImage& a, const QImage& b)
{
    return a.size() == b.size() && drawable(a) == drawable(b);
}

} // namespace

Screencapture::Screencapture(CaptureBackend& backend, QObject* parent)
    : QObject(parent), m_backend(backend)
{
    connect(&m_backend, &CaptureBackend::captured, this, &Screencapture::onCaptured);
    connect(&m_backend, &CaptureBackend::cancelled, this, &Screencapture::onCancelled);
    connect(&m_backend, &CaptureBackend::failed, this, &Screencapture::onFailed);
}

void Screencapture::setImage(const QImage& image)
{
    m_image = image;
    Q_EMIT imageChanged();
}

void Screencapture::setIsRecording(bool recording)
{
    m_isRecording = recording;
    Q_EMIT isRecordingChanged();
}

void Screencapture::setOutputURL(const QUrl& url)
{
    m_outputURL = url;
    Q_EMIT outputURLChanged();
}

void Screencapture::setCaptureType(ScreenshotTypes type)
{
    m_captureType = type;
    Q_EMIT captureTypeChanged();
}

void Screencapture::takeScreenshot(ScreenshotTypes kind)
{
    // A backend takes one capture at a time; a second request while the
    // first is on screen (say, a shortcut pressed twice) is dropped.
    if (m_capturing)
        return;
    m_capturing = true;
    m_backend.capture(kind);
}

// The backend's answers count only while we asked for one.
void Screencapture::onCaptured(const QImage& picture)
{
    if (!m_capturing)
        return;
    Q_EMIT screenshotAnswered();
    m_lastCapture = picture;
    QGuiApplication::clipboard()->setImage(picture);
    // A clipboard that would not take the picture must not lose the capture.
    if (!takeClipboardPicture())
        setImage(drawable(picture));
    finishScreenshot();
}

void Screencapture::onCancelled()
{
    if (!m_capturing)
        return;
    Q_EMIT screenshotAnswered();
    if (takeClipboardPicture() || QGuiApplication::platformName() != QLatin1String("wayland") ||
        QGuiApplication::focusWindow()) {
        finishScreenshot();
        return;
    }
    // A Wayland compositor offers the clipboard only to the client that has
    // the keyboard, and the portal's dialog had it: the selection comes back
    // with our focus, a moment after the answer. Until then, or a short
    // while, the capture is not over.
    auto* waiting = new QObject(this);
    auto over = std::make_shared<bool>(false);
    const auto end = [this, waiting, over] {
        if (std::exchange(*over, true))
            return;
        waiting->deleteLater();
        finishScreenshot();
    };
    connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, waiting, [this, over, end] {
        if (!*over && takeClipboardPicture())
            end();
    });
    QTimer::singleShot(kClipboardAfterFocusMs, waiting, end);
}

void Screencapture::onFailed(const QString& reason)
{
    if (!m_capturing)
        return;
    Q_EMIT screenshotAnswered();
    printLine(QStringLiteral("Failed to take screenshot: ") + reason);
    finishScreenshot();
}

void Screencapture::finishScreenshot()
{
    m_capturing = false;
    Q_EMIT screenshotFinished();
}

void Screencapture::loadImageFromPasteboard()
{
    takeClipboardPicture();
}

bool Screencapture::takeClipboardPicture()
{
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    if (!data || !data->hasImage())
        return false;
    QImage picture = drawable(qvariant_cast<QImage>(data->imageData()));
    if (picture.isNull())
        return false;
    if (!m_lastCapture.isNull() && samePixels(picture, m_lastCapture))
        picture.setDevicePixelRatio(m_lastCapture.devicePixelRatio());
    setImage(picture);
    return true;
}

void Screencapture::loadImage(const QUrl& url)
{
    Result<QImage> loaded = loadImageFile(url.toLocalFile());
    if (!loaded.ok()) {
        printLine(loadFailureLine(url));
        return;
    }
    setImage(std::move(loaded).value());
}

QString Screencapture::loadFailureLine(const QUrl& url)
{
    return QStringLiteral("Failed to load image from URL: ") + url.toString();
}
