// Preloaded into the test programs when they run under qemu-user (Debian 12's QEMU 7.2).
//
// QProcess starts children through forkfd, which asks the kernel whether it has pidfds by calling
// waitid(P_PIDFD) on a closed descriptor. QEMU passes that call to the host kernel, which says
// yes, but QEMU 7.2 refuses the clone(CLONE_PIDFD) that follows, and QProcess then fails to start
// anything. Answering the question with "no" makes forkfd use plain fork() and SIGCHLD, which
// QEMU emulates. Nothing else changes.
#include <dlfcn.h>
#include <sys/syscall.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>

namespace {
constexpr long pidfdIdType = 3; // P_PIDFD
}

extern "C" long syscall(long number, ...) noexcept
{
    va_list list;
    va_start(list, number);
    long argument[6];
    for (long &value : argument)
        value = va_arg(list, long);
    va_end(list);
    if (number == SYS_waitid && argument[0] == pidfdIdType) {
        errno = EINVAL;
        return -1;
    }
    using Syscall = long (*)(long, ...);
    static const Syscall real = reinterpret_cast<Syscall>(dlsym(RTLD_NEXT, "syscall"));
    return real(number, argument[0], argument[1], argument[2], argument[3], argument[4], argument[5]);
}

// The host's own programs that a test starts (bash, socat, rx) must not be handed this library.
__attribute__((constructor)) static void forgetPreload()
{
    unsetenv("LD_PRELOAD");
}
