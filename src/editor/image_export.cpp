#include "image_export.h"

#include "image_compositor.h"
#include "png_writer.h"

#include <QCoreApplication>
#include <QThreadPool>

void exportImage(FilePanel& panel, const QImage& screenshot, const GradientStyle& style,
                 std::shared_ptr<const ImageExportValues> values, ImageExportLineWriter writeLine)
{
    const FilePanel::SaveRequest request{{QStringLiteral("PNG image (*.png)")},
                                         QStringLiteral("screenshot_with_background.png")};
    panel.chooseSaveLocation(request, [screenshot, style, values = std::move(values),
                                       writeLine =
                                           std::move(writeLine)](std::optional<QString> path) {
        if (!path)
            return;
        // Taken now, as the panel closes, on the main thread.
        const ImageExportValues taken = *values;
        // The global pool is waited for when the application quits, so a
        // file being written is never cut off halfway.
        QThreadPool::globalInstance()->start([screenshot, style, taken, writeLine, path = *path] {
            const QImage composed =
                composeWithBackground(screenshot, style, taken.padding, taken.cornerRadius);
            if (composed.isNull())
                return; // too large to compose: nothing to write
            const Result<void> written = writePng(composed, path);
            const QString line = written.ok()
                                     ? QStringLiteral("Image saved successfully to: ") + path
                                     : QStringLiteral("Error saving image: ") + written.error();
            // Lines are written on the main thread; once the app is closing
            // down it takes no more events, and the line is written here.
            QCoreApplication* app = QCoreApplication::instance();
            if (!app || QCoreApplication::closingDown())
                writeLine(line);
            else
                QMetaObject::invokeMethod(
                    app, [writeLine, line] { writeLine(line); }, Qt::QueuedConnection);
        });
    });
}
