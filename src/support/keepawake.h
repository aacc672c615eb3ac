#pragma once

#include <cstdint>
#include <string>

// Keeps the computer from sleeping (idle timer, lid switch, suspend) while an update writes the
// device's flash. Plain C++ on purpose: the Windows half is checked with a cross compiler that has
// no Qt. Linux asks systemd-logind for a "block" inhibitor; Windows sets the thread's execution
// state.
class cKeepAwake
{
public:
    cKeepAwake() = default;
    ~cKeepAwake();
    cKeepAwake(const cKeepAwake &) = delete;
    cKeepAwake &operator=(const cKeepAwake &) = delete;

    // True when the computer is now kept awake (also when it was already). On false, why says what
    // stood in the way, in English for the update log.
    bool acquire(std::string &why);
    // Lets the computer sleep again; nothing happens when nothing is held.
    void release();
    bool held() const { return m_held; }

private:
    // Linux: the inhibitor's file descriptor; Windows: unused.
    std::intptr_t m_handle = -1;
    bool m_held = false;
};
