#pragma once

#include "updater.h"

#include <QDialog>
#include <functional>

class QPushButton;

// What an update check found: up to date, a newer version with its notes and
// a button to its download page, the reason the check failed, or that this
// build has no feed. Modeless; deletes itself when closed.
class UpdateDialog : public QDialog {
    Q_OBJECT

public:
    // Opens a web page; the desktop's browser by default.
    using UrlOpener = std::function<bool(const QUrl&)>;

    explicit UpdateDialog(const UpdateCheckResult& result, UrlOpener openUrl = {},
                          QWidget* parent = nullptr);

    // Shows a dialog for every check a person started, and for a scheduled
    // check that found a newer version, replacing one still open. Scheduled
    // checks that find nothing new or fail stay quiet (a failure is printed).
    static void showForChecks(Updater& updater, UrlOpener openUrl = {});

    static QString downloadTitle();

private:
    void addReleaseNotes(const QString& html);

    UrlOpener m_openUrl;
};
