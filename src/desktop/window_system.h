#pragma once

#include <QString>
#include <memory>

class QApplication;

// The QApplication for showing windows, or null when no display is named.
// When the display named cannot be reached, prints displayFailure(hint) and
// ends the process with exitFailure, as Qt would otherwise abort it.
std::unique_ptr<QApplication> startWindowSystem(int& argc, char** argv, const QString& hint = {});

// One line saying why no window can open, with `hint` after it if given.
QString displayFailure(const QString& hint = {});
