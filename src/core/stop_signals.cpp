#include "stop_signals.h"

#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace {

// The pipe a signal handler wakes the event loop through: a handler may only
// make async-signal-safe calls.
int wakePipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(wakePipe[1], &byte, 1);
}

} // namespace

StopSignals::StopSignals(std::function<void()> handler)
{
    if (::pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_notifier.emplace(wakePipe[0], QSocketNotifier::Read);
    QObject::connect(&*m_notifier, &QSocketNotifier::activated,
                     [this, handler = std::move(handler)] {
                         char byte;
                         while (::read(wakePipe[0], &byte, 1) > 0) {
                         }
                         m_notifier->setEnabled(false);
                         handler();
                     });
    struct sigaction action {};
    action.sa_handler = &onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    for (std::size_t i = 0; i < std::size(handled); ++i)
        m_installed[i] = sigaction(handled[i], nullptr, &m_previous[i]) == 0 &&
                         m_previous[i].sa_handler != SIG_IGN &&
                         sigaction(handled[i], &action, nullptr) == 0;
}

StopSignals::~StopSignals()
{
    for (std::size_t i = 0; i < std::size(handled); ++i)
        if (m_installed[i])
            sigaction(handled[i], &m_previous[i], nullptr);
    m_notifier.reset();
    for (int& end : wakePipe)
        if (end >= 0)
            ::close(std::exchange(end, -1));
}
