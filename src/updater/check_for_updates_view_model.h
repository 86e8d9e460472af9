#pragma once

#include <QObject>

class QAction;
class Updater;

// Mirrors the updater's canCheckForUpdates for the "Check for Updates…"
// command: false from creation until the updater's value arrives (at once),
// then every change the updater reports.
class CheckForUpdatesViewModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool canCheckForUpdates READ canCheckForUpdates NOTIFY canCheckForUpdatesChanged)

public:
    explicit CheckForUpdatesViewModel(Updater& updater, QObject* parent = nullptr);

    bool canCheckForUpdates() const { return m_canCheckForUpdates; }
    Updater& updater() const { return m_updater; }

    // Starts a user-initiated check.
    void checkForUpdates();

    // The menu command "Check for Updates…", enabled exactly while a check
    // may start; triggering it starts one. Owned by `parent`.
    QAction* createAction(QObject* parent);

    static QString title();

Q_SIGNALS:
    void canCheckForUpdatesChanged(bool canCheck);

private:
    void setCanCheckForUpdates(bool canCheck);

    Updater& m_updater;
    bool m_canCheckForUpdates = false;
};
