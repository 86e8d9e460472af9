#pragma once

#include "file_panel.h"
#include "gradient_style.h"

#include <QImage>
#include <QString>
#include <functional>
#include <memory>

// The editor's values the image export reads when its save panel closes.
// The editor keeps one of these current and shares it with every export it
// starts, so an export whose window closed meanwhile reads the last values.
struct ImageExportValues {
    double padding = 40;
    double cornerRadius = 0;
};

// Where the export's line goes. Called once per written or failed export, on
// the main thread, as every line of the editor is.
using ImageExportLineWriter = std::function<void(const QString& line)>;

// "Export with Background" for a screenshot: asks where to save a PNG
// (proposing "screenshot_with_background.png") and returns at once. The
// screenshot and `style` are those of the moment of the press; padding and
// corner radius are read from `values` when the panel closes.
//
// A cancelled panel ends it without a word. Otherwise the screenshot is
// composed at full resolution and written in the background, so the editor
// stays responsive; the file is finished and its line printed even if the
// window closes meanwhile:
//   "Image saved successfully to: <path>" or "Error saving image: <reason>".
// Each call is independent: two presses open two panels and write two files.
//
// `panel` must outlive the panel it shows.
void exportImage(FilePanel& panel, const QImage& screenshot, const GradientStyle& style,
                 std::shared_ptr<const ImageExportValues> values, ImageExportLineWriter writeLine);
