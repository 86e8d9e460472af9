#pragma once

#include "null_capture_backend.h"
#include "screen_recorder.h"
#include "screencapture.h"

#include <QString>

// Opens a picture or a movie file, told apart by its content, in an editor
// window of its own. Holds the pair of models the windows are opened from,
// as the main window holds one; each window copies what it shows out of it.
// Used by `quorvel open` and by the running app when it is asked to open
// files over the session bus.
class FileOpener {
public:
    FileOpener() : m_capture(m_backend) {}

    // Empty when a window opened for `path`; otherwise why none did.
    QString open(const QString& path);

private:
    NullCaptureBackend m_backend;
    Screencapture m_capture;
    ScreenRecorder m_recorder;
};
