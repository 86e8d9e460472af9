#include "clipboard_holder.h"

#include "exit_status.h"
#include "image_loader.h"
#include "window_system.h"

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QMimeData>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr char kPngSignature[] = "\x89PNG\r\n\x1a\n";

QByteArray readStandardInput()
{
    QByteArray bytes;
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return bytes;
        bytes.append(buffer, got);
    }
}

// The answer goes to whoever started us; after it, nothing of ours may keep
// their pipes (or a terminal) open while we wait in the background.
void answerAndLetGo(const QString& answer)
{
    std::fputs(qPrintable(answer + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
    const int nowhere = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (nowhere >= 0) {
        ::dup2(nowhere, STDIN_FILENO);
        ::dup2(nowhere, STDOUT_FILENO);
        ::dup2(nowhere, STDERR_FILENO);
        ::close(nowhere);
    }
}

} // namespace

Result<QImage> decodeClipboardPng(const QByteArray& png)
{
    if (!png.startsWith(QByteArray::fromRawData(kPngSignature, 8)))
        return Result<QImage>::failure(QStringLiteral("not a PNG picture"));
    QByteArray bytes = png;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    return loadImage(buffer);
}

void setClipboardPicture(const QImage& picture, const QByteArray& png)
{
    auto* data = new QMimeData;
    data->setImageData(picture);
    data->setData(QStringLiteral("image/png"), png);
    QGuiApplication::clipboard()->setMimeData(data, QClipboard::Clipboard);
}

QString putPictureOnClipboard(const QByteArray& png)
{
    Result<QImage> picture = decodeClipboardPng(png);
    if (!picture.ok())
        return picture.error();
    setClipboardPicture(picture.value(), png);
    return {};
}

int runClipboardHolder(int& argc, char** argv)
{
    const QByteArray png = readStandardInput();
    const std::unique_ptr<QApplication> app = startWindowSystem(argc, argv);
    if (!app) {
        answerAndLetGo(displayFailure());
        return exitFailure;
    }
    if (const QString failure = putPictureOnClipboard(png); !failure.isEmpty()) {
        answerAndLetGo(failure);
        return exitFailure;
    }
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard->ownsClipboard()) {
        answerAndLetGo(QStringLiteral("the desktop did not let us own the clipboard"));
        return exitFailure;
    }
    QObject::connect(clipboard, &QClipboard::changed, app.get(),
                     [clipboard](QClipboard::Mode mode) {
                         if (mode == QClipboard::Clipboard && !clipboard->ownsClipboard())
                             QCoreApplication::quit();
                     });
    answerAndLetGo(QStringLiteral("ok"));
    return QApplication::exec() == 0 ? exitSuccess : exitFailure;
}
