#pragma once

#include <QString>

// The name filters of the "Choose Image" and "Choose Video" panels, shared
// by the main window and the tray panel so both accept the same files.
QString imagesNameFilter();
QString moviesNameFilter();
