#include "support/keepawake.h"

#include <windows.h>

// The execution state belongs to the calling thread: acquire and release run on the GUI thread.

cKeepAwake::~cKeepAwake()
{
    release();
}

bool cKeepAwake::acquire(std::string &why)
{
    if (m_held)
        return true;
    if (SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED | ES_AWAYMODE_REQUIRED) == 0
        && SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED) == 0) {
        why = "SetThreadExecutionState failed, error " + std::to_string(GetLastError());
        return false;
    }
    m_held = true;
    return true;
}

void cKeepAwake::release()
{
    if (!m_held)
        return;
    SetThreadExecutionState(ES_CONTINUOUS);
    m_held = false;
}
