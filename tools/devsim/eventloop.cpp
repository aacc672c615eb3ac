#include "eventloop.h"

#include "log.h"
#include "port.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <poll.h>

namespace {

volatile sig_atomic_t g_stopSignal = 0;

void onStopSignal(int signalNumber)
{
    g_stopSignal = signalNumber;
}

sigset_t stopSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    return set;
}

} // namespace

void cEventLoop::blockStopSignals()
{
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    for (const int signalNumber : {SIGTERM, SIGINT, SIGHUP})
        sigaction(signalNumber, &action, nullptr);
    const sigset_t set = stopSignals();
    sigprocmask(SIG_BLOCK, &set, nullptr);
}

cEventLoop::tTimerId cEventLoop::after(int ms, std::function<void()> fn)
{
    const tTimerId id = m_nextTimerId++;
    m_timers[id] = sTimer{tClock::now() + std::chrono::milliseconds(qMax(0, ms)), std::move(fn)};
    return id;
}

void cEventLoop::cancel(tTimerId id)
{
    m_timers.erase(id);
}

void cEventLoop::watch(const std::shared_ptr<cPort> &port)
{
    m_ports.push_back(port);
}

void cEventLoop::quit(int exitCode)
{
    m_quit = true;
    m_exitCode = exitCode;
}

bool cEventLoop::fireDueTimers()
{
    // Earliest first, one at a time: a callback may add or cancel timers.
    bool fired = false;
    for (;;) {
        const auto now = tClock::now();
        auto earliest = m_timers.end();
        for (auto it = m_timers.begin(); it != m_timers.end(); ++it) {
            if (it->second.due <= now && (earliest == m_timers.end() || it->second.due < earliest->second.due))
                earliest = it;
        }
        if (earliest == m_timers.end() || m_quit)
            return fired;
        // Moved out first: the callback may destroy whatever registered it.
        std::function<void()> fn = std::move(earliest->second.fn);
        m_timers.erase(earliest);
        fn();
        fired = true;
    }
}

int cEventLoop::msUntilNextTimer() const
{
    if (m_timers.empty())
        return -1;
    auto due = m_timers.begin()->second.due;
    for (const auto &entry : m_timers)
        due = std::min(due, entry.second.due);
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(due - tClock::now()).count();
    return left <= 0 ? 0 : static_cast<int>((left + 999) / 1000);
}

int cEventLoop::run()
{
    const sigset_t blocked = stopSignals();
    sigset_t waitMask;
    sigprocmask(SIG_SETMASK, nullptr, &waitMask);
    for (int i = 1; i < NSIG; ++i) {
        if (sigismember(&blocked, i))
            sigdelset(&waitMask, i);
    }

    while (!m_quit) {
        fireDueTimers();
        if (m_quit)
            break;

        std::vector<std::shared_ptr<cPort>> ports;
        std::vector<pollfd> fds;
        int timeoutMs = msUntilNextTimer();
        const auto now = tClock::now();
        for (auto it = m_ports.begin(); it != m_ports.end();) {
            std::shared_ptr<cPort> port = it->lock();
            if (!port || !port->isOpen()) {
                it = m_ports.erase(it);
                continue;
            }
            int portTimeout = -1;
            const short events = port->pollEvents(now, portTimeout);
            if (portTimeout >= 0)
                timeoutMs = timeoutMs < 0 ? portTimeout : std::min(timeoutMs, portTimeout);
            ports.push_back(port);
            fds.push_back(pollfd{port->fd(), events, 0});
            ++it;
        }

        timespec timeout{};
        timespec *timeoutPointer = nullptr;
        if (timeoutMs >= 0) {
            timeout.tv_sec = timeoutMs / 1000;
            timeout.tv_nsec = static_cast<long>(timeoutMs % 1000) * 1000000L;
            timeoutPointer = &timeout;
        }
        const int ready = ::ppoll(fds.data(), fds.size(), timeoutPointer, &waitMask);
        if (g_stopSignal) {
            devLog(QStringLiteral("stopping (signal %1)").arg(static_cast<int>(g_stopSignal)));
            return 0;
        }
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            devLog(QStringLiteral("poll failed: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
            return 1;
        }
        for (size_t i = 0; i < fds.size() && !m_quit; ++i) {
            // Every port is given its turn, even without events: its pacing budget may have refilled.
            if (ports[i]->isOpen())
                ports[i]->handleEvents(fds[i].revents);
        }
    }
    return m_exitCode;
}
