#include "screencapture.h"

#include "console.h"
#include "image_loader.h"

#include <QClipboard>
#include <QEventLoop>
#include <QGuiApplication>
#include <QMimeData>
#include <optional>

namespace {

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

// What the backend answered: a picture, a failure reason, or neither (cancelled).
struct Answer {
    bool answered = false;
    std::optional<QImage> picture;
    std::optional<QString> failure;
};

} // namespace

Screencapture::Screencapture(CaptureBackend& backend, QObject* parent)
    : QObject(parent), m_backend(backend)
{
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

    Answer answer;
    QEventLoop loop;
    // Connections live on `guard`, so they end with this call.
    QObject guard;
    const auto finish = [&] {
        answer.answered = true;
        loop.quit();
    };
    connect(&m_backend, &CaptureBackend::captured, &guard, [&](const QImage& picture) {
        answer.picture = picture;
        finish();
    });
    connect(&m_backend, &CaptureBackend::cancelled, &guard, finish);
    connect(&m_backend, &CaptureBackend::failed, &guard, [&](const QString& reason) {
        answer.failure = reason;
        finish();
    });

    m_backend.capture(kind);
    if (!answer.answered)
        loop.exec();
    m_capturing = false;

    if (answer.failure) {
        printLine(QStringLiteral("Failed to take screenshot: ") + *answer.failure);
        return;
    }
    if (answer.picture) {
        m_lastCapture = *answer.picture;
        QGuiApplication::clipboard()->setImage(*answer.picture);
    }
    loadImageFromPasteboard();
}

void Screencapture::loadImageFromPasteboard()
{
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    if (!data || !data->hasImage())
        return;
    QImage picture = drawable(qvariant_cast<QImage>(data->imageData()));
    if (picture.isNull())
        return;
    if (!m_lastCapture.isNull() && samePixels(picture, m_lastCapture))
        picture.setDevicePixelRatio(m_lastCapture.devicePixelRatio());
    setImage(picture);
}

void Screencapture::loadImage(const QUrl& url)
{
    Result<QImage> loaded = loadImageFile(url.toLocalFile());
    if (!loaded.ok()) {
        printLine(QStringLiteral("Failed to load image from URL: ") + url.toString());
        return;
    }
    setImage(std::move(loaded).value());
}
