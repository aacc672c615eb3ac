#pragma once

#include <cstdint>
#include <string>

// Starts a helper program (the driver installer) and waits for it in bounded steps. Plain C++ on
// purpose: the Windows half is checked with a cross compiler that has no Qt.
struct cLaunchedProgram
{
    // Windows: the process HANDLE; elsewhere: the child's process id. Zero when there is none.
    std::intptr_t handle = 0;
    // Once waitForProgram has said Finished: the program's exit code (0: it succeeded), or -1
    // where it ended by a signal or its code could not be had.
    int exitCode = -1;
};

enum class ProgramStart {
    Failed, // missing, not executable, or the user declined elevation
    StartedWithoutHandle, // the shell took it but gave no process to wait on
    Started,
};

enum class ProgramWait { Finished, TimedOut, Failed };

// relativePath is resolved against the current directory and uses the platform's separator;
// both texts are UTF-8. The program inherits the current directory and the environment.
ProgramStart startProgram(const std::string &relativePath, const std::string &argument,
                          cLaunchedProgram &program);

// Waits at most timeoutMs for the program to end.
ProgramWait waitForProgram(cLaunchedProgram &program, int timeoutMs);

// Releases the handle; the program itself is left alone.
void closeProgram(cLaunchedProgram &program);
