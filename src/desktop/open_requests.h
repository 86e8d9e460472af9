#pragma once

#include <QString>

// The name filters of the "Choose Image" and "Choose Video" panels, shared
// by the main window and the tray panel so both accept the same files.
QString imagesNameFilter();
QString moviesNameFilter();

// What those panels would take a file for, by its name: files dropped on the
// main window are accepted as exactly what the panels offer. Unlike the
// panels' filters, the extension's case does not matter (cameras name files
// IMG_0001.JPG).
enum class OpenableKind { none, image, movie };
OpenableKind openableKind(const QString& fileName);
