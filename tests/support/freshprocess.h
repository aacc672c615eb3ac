#pragma once

#include <QtGlobal>

// Some state lives for the whole process (the XMODEM chunk size and first-packet flag), so a test
// of it needs a process of its own. inFreshProcess() re-runs the current test function and data
// row in a child process of this test program and checks the child's verdict; it returns true only
// inside that child, where the case itself is to run:
//
//     if (!inFreshProcess())
//         return;
bool inFreshProcess(int timeoutMs = 120000);
