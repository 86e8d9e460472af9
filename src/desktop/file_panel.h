#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

// The desktop's file choosers, as the rest of Quorvel needs them. Both are
// shown without blocking: the call returns at once and `done` runs later on
// the main thread with the chosen file, or with nothing when the user
// cancelled. Two panels may be open at once; each answers for itself.
class FilePanel {
public:
    struct OpenRequest {
        QStringList nameFilters; // e.g. "Images (*.png *.jpg)"
        QString prompt;          // the confirming button's text
    };
    struct SaveRequest {
        QStringList nameFilters; // e.g. "MPEG-4 movie (*.mp4)"
        QString proposedName;    // e.g. "video_with_background.mp4"
    };
    using Answer = std::function<void(std::optional<QString> path)>;

    virtual ~FilePanel() = default;
    virtual void chooseFileToOpen(const OpenRequest& request, Answer done) = 0;
    // Replacing an existing file has been confirmed by the user when `done`
    // gets its path.
    virtual void chooseSaveLocation(const SaveRequest& request, Answer done) = 0;
};
