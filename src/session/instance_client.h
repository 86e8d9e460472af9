#pragma once

#include <QByteArray>
#include <QDBusMessage>
#include <QString>
#include <QStringList>
#include <optional>

// Where the running app answers on the session bus.
inline constexpr char kInstanceService[] = "io.github.quorvel.Quorvel";
inline constexpr char kInstancePath[] = "/io/github/quorvel/Quorvel";
inline constexpr char kInstanceInterface[] = "io.github.quorvel.Quorvel";

// The running app as another quorvel process reaches it: whoever owns
// kInstanceService on the session bus. Every call returns nullopt when there
// is no instance to ask (no session bus, nobody owns the name, or it did not
// answer in time); the caller then does the work itself. The name is never
// started on demand, so asking can never start a second app behind our back.
class InstanceClient {
public:
    // Raises the instance's main window; false when there is none to ask.
    bool activate();
    // Opens the files (absolute paths) in editor windows; the lines saying
    // why some could not be opened, as `quorvel open` prints them.
    std::optional<QStringList> open(const QStringList& absolutePaths);
    // Starts a capture of `kind` ("area", "window" or "full") with the
    // instance's own flow; empty when it started, else why it did not.
    std::optional<QString> capture(const QString& kind);
    // Starts recording `kind` with the instance's own recorder; empty when it
    // started, else why it did not.
    std::optional<QString> record(const QString& kind, bool sound, bool pointer);
    // Puts a PNG on the clipboard, owned by the instance from then on; empty
    // when it is there, else why not.
    std::optional<QString> copyPicture(const QByteArray& png);

private:
    std::optional<QDBusMessage> call(const QString& method, const QVariantList& arguments,
                                     int timeoutMs);
};
