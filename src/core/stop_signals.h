#pragma once

#include <QSocketNotifier>
#include <csignal>
#include <functional>
#include <iterator>
#include <optional>

// While it lives, Ctrl+C, SIGTERM and a terminal hanging up call `handler`
// once, on the event loop, so a command can end what it started (close a
// portal's request, finish a recording) rather than die in the middle. Each
// handler is reset on entry, so the same signal again ends the process the
// usual way; a signal already ignored (nohup) stays ignored. One at a time.
class StopSignals {
public:
    static constexpr int handled[] = {SIGINT, SIGTERM, SIGHUP};

    explicit StopSignals(std::function<void()> handler);
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

private:
    std::optional<QSocketNotifier> m_notifier;
    struct sigaction m_previous[std::size(handled)]{};
    bool m_installed[std::size(handled)] = {};
};
