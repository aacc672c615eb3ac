#include "support/driverlaunch.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace {

// Granularity of the wait: fine enough that a program ending early is noticed at once.
constexpr std::chrono::milliseconds pollStep { 5 };

// Zero once the child has been reaped, so that closeProgram does not reap a recycled pid.
pid_t pidOf(const cLaunchedProgram &program)
{
    return static_cast<pid_t>(program.handle);
}

} // namespace

ProgramStart startProgram(const std::string &relativePath, const std::string &argument,
                          cLaunchedProgram &program)
{
    program.handle = 0;
    std::string path = relativePath;
    std::string arg = argument;
    char *const argv[] = { path.data(), arg.data(), nullptr };
    pid_t pid = 0;
    // posix_spawn, not posix_spawnp: the path is relative to the current directory, never looked
    // up in PATH, and no shell sees the argument. A program that cannot be executed is reported
    // here as an error. posix_spawn may tell that only through the child's exit status 127 (POSIX
    // allows it, and a C library whose vfork is a plain fork does so, as under QEMU's user-mode
    // emulation), so a missing or non-executable file is refused before it is tried.
    if (::access(path.c_str(), X_OK) != 0)
        return ProgramStart::Failed;
    if (posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv, environ) != 0 || pid <= 0)
        return ProgramStart::Failed;
    program.handle = pid;
    return ProgramStart::Started;
}

ProgramWait waitForProgram(cLaunchedProgram &program, int timeoutMs)
{
    const pid_t pid = pidOf(program);
    if (pid <= 0)
        return ProgramWait::Failed;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int status = 0;
        const pid_t result = waitpid(pid, &status, WNOHANG);
        if (result == pid) {
            program.handle = 0;
            program.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            return ProgramWait::Finished;
        }
        if (result < 0 && errno != EINTR)
            return ProgramWait::Failed;
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline)
            return ProgramWait::TimedOut;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(pollStep, deadline - now));
    }
}

void closeProgram(cLaunchedProgram &program)
{
    // A child that is still running when its handle is dropped is reaped if it has just ended;
    // otherwise it goes on by itself, as on Windows.
    const pid_t pid = pidOf(program);
    if (pid > 0) {
        int status = 0;
        waitpid(pid, &status, WNOHANG);
    }
    program.handle = 0;
}
