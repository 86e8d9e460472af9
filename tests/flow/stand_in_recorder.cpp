// Stands in for `quorvel record KIND [--audio] [--no-cursor] -o PATH` in the
// app's tests: it owns the recorder's bus name while "recording", stops on
// Stop() or SIGTERM, and writes its arguments to PATH.
// STAND_IN_RECORDER_MODE picks how it behaves:
//   record (default)  as above, exit 0; with --audio, says its sound stopped
//   cancel            the pick is cancelled at once (exit 130)
//   fail              complains on standard error and exits 1
//   crash             records, then aborts when told to stop

#include <QCoreApplication>
#include <QDBusConnection>
#include <QFile>
#include <QTimer>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace {

std::atomic<bool> terminated{false};

class Recorder : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "io.github.quorvel.Recorder")

public:
    std::function<void()> stop;

public Q_SLOTS:
    Q_SCRIPTABLE void Stop()
    {
        QTimer::singleShot(0, this, [this] { stop(); });
    }
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments().mid(1);
    const QString path = arguments.value(arguments.indexOf(QStringLiteral("-o")) + 1);
    const QByteArray mode = qgetenv("STAND_IN_RECORDER_MODE");
    if (mode == "cancel")
        return 130;
    if (mode == "fail") {
        std::fputs("a warning first\nquorvel: cannot record area: the screen went away\n\n",
                   stderr);
        return 1;
    }
    // The movie it makes holds the arguments it was given, for the tests to read.
    if (QFile movie(path); movie.open(QIODevice::WriteOnly))
        movie.write(arguments.join(' ').toUtf8());
    std::signal(SIGTERM, [](int) { terminated = true; });

    Recorder recorder;
    recorder.stop = [&] {
        if (mode == "crash")
            std::abort();
        QCoreApplication::exit(0);
    };
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (terminated)
            recorder.stop();
    });
    poll.start(10);
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.registerObject(QStringLiteral("/io/github/quorvel/Recorder"), &recorder,
                       QDBusConnection::ExportScriptableSlots);
    bus.registerService(QStringLiteral("io.github.quorvel.Recorder"));
    std::puts("Recording the screen; stop with `quorvel record stop` or Ctrl+C");
    std::fflush(stdout);
    if (arguments.contains(QStringLiteral("--audio"))) // a notice, in two pieces
        std::fputs("quorvel: recording without sound from now on:", stderr), std::fflush(stderr),
            std::fputs(" the output went away\n", stderr);
    return app.exec();
}

#include "stand_in_recorder.moc"
