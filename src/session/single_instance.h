#pragma once

#include "screenshot_types.h"

#include <QByteArray>
#include <QDBusContext>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

// The app's one name on the session bus, io.github.quorvel.Quorvel at
// /io/github/quorvel/Quorvel. The first process to claim it is the instance;
// later starts and the shortcut commands reach it through InstanceClient
// instead of becoming a second app with a second tray item. With no session
// bus every process runs alone, as if it had the name.
//
// The bus methods are the capitalised slots, named as D-Bus names methods.
// Whatever they are asked is bounded and answered without the GUI thread
// waiting: files are read and pictures decoded on the thread pool, and the
// answer goes out when they are done.
class SingleInstance : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "io.github.quorvel.Quorvel")

public:
    enum class Claim {
        owned,     // this process is the instance (or there is no bus to share)
        elsewhere, // another process is; ask it with InstanceClient
    };

    explicit SingleInstance(QObject* parent = nullptr);
    ~SingleInstance() override;

    // Takes the name before any window is built, so two starts at once cannot
    // both become the instance. Calls that come in before serve() wait in the
    // event queue, which runs only once the app is there.
    Claim claim();
    // What the running app does for the bus methods.
    struct Handlers {
        // Shows and raises the main window.
        std::function<void()> activate;
        // Opens the files (absolute paths); `done` gets why for each that did
        // not open, empty for each that did.
        std::function<void(const QStringList& paths,
                           std::function<void(const QStringList& failures)> done)>
            open;
        // Starts a capture of `kind`; empty when it started, else why not.
        std::function<QString(ScreenshotTypes kind)> capture;
        // Starts recording `kind`, with the default output's sound or not and
        // the pointer drawn in or not; empty when it started, else why not.
        std::function<QString(ScreenshotTypes kind, bool sound, bool pointer)> record;
    };

    // Answers the bus methods with `handlers` from now on; until then, and
    // after stopServing(), they answer that Quorvel is not ready.
    void serve(Handlers handlers);
    void stopServing();

    // The most paths one Open may name.
    static constexpr int kMostPaths = 10000;

public Q_SLOTS:
    // Shows and raises the main window.
    Q_SCRIPTABLE void Activate();
    // Opens each file (an absolute path) in an editor window; for each, in
    // order, empty when it opened, else why not.
    Q_SCRIPTABLE QStringList Open(const QStringList& paths);
    // Starts a capture ("area", "window" or "full") as the main window's
    // buttons do; empty when it started, else why not.
    Q_SCRIPTABLE QString Capture(const QString& kind);
    // Starts recording ("area", "window" or "full") as the app's menus do,
    // with sound and the pointer as asked; empty when it started, else why not.
    Q_SCRIPTABLE QString Record(const QString& kind, bool sound, bool pointer);
    // Puts a PNG on the clipboard, owned by this process from now on; empty
    // when done, else why not.
    Q_SCRIPTABLE QString CopyPicture(const QByteArray& png);

private:
    std::optional<Handlers> m_handlers;
    bool m_registered = false;
};
