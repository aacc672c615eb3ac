#pragma once

#include <QtGlobal>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <vector>

class cPort;

// Single-threaded poll() loop over the device's ports plus one-shot timers. Keeping everything on one
// thread means the device's state machines never need locks and their timing stays reproducible.
class cEventLoop
{
public:
    using tClock = std::chrono::steady_clock;
    using tTimerId = quint64;

    // Runs fn once, ms from now. Timers are never fired re-entrantly.
    tTimerId after(int ms, std::function<void()> fn);
    void cancel(tTimerId id);

    // The loop keeps a weak reference; a port that is closed or destroyed simply drops out.
    void watch(const std::shared_ptr<cPort> &port);

    // Runs until SIGTERM/SIGINT/SIGHUP (see blockStopSignals) or quit(). Returns the exit code.
    int run();
    void quit(int exitCode);

    // Must be called before any other thread or child exists: the stop signals are then only
    // delivered inside ppoll(), which closes the race between checking the flag and sleeping.
    static void blockStopSignals();

private:
    struct sTimer
    {
        tClock::time_point due;
        std::function<void()> fn;
    };

    bool fireDueTimers();
    int msUntilNextTimer() const;

    std::map<tTimerId, sTimer> m_timers;
    tTimerId m_nextTimerId = 1;
    std::vector<std::weak_ptr<cPort>> m_ports;
    bool m_quit = false;
    int m_exitCode = 0;
};
