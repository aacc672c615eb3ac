#include "support/driverlaunch.h"

#include <windows.h>

#include <shellapi.h>

namespace {

std::wstring widen(const std::string &text)
{
    if (text.empty())
        return {};
    const int length
        = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

HANDLE handleOf(const cLaunchedProgram &program)
{
    return reinterpret_cast<HANDLE>(program.handle);
}

} // namespace

ProgramStart startProgram(const std::string &relativePath, const std::string &argument,
                          cLaunchedProgram &program)
{
    program.handle = 0;
    const std::wstring file = widen(relativePath);
    const std::wstring parameters = widen(argument);
    // Through the shell rather than CreateProcess: an installer that asks for administrator rights
    // then gets the elevation prompt, and declining it fails the call.
    SHELLEXECUTEINFOW request {};
    request.cbSize = sizeof request;
    request.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_DOENVSUBST;
    request.hwnd = nullptr;
    request.lpVerb = L"open";
    request.lpFile = file.c_str();
    request.lpParameters = parameters.c_str();
    request.lpDirectory = nullptr;
    request.nShow = SW_SHOW;
    if (!ShellExecuteExW(&request))
        return ProgramStart::Failed;
    if (!request.hProcess)
        return ProgramStart::StartedWithoutHandle;
    program.handle = reinterpret_cast<std::intptr_t>(request.hProcess);
    return ProgramStart::Started;
}

ProgramWait waitForProgram(cLaunchedProgram &program, int timeoutMs)
{
    const HANDLE process = handleOf(program);
    if (!process)
        return ProgramWait::Failed;
    switch (WaitForSingleObject(process, static_cast<DWORD>(timeoutMs))) {
    case WAIT_OBJECT_0: {
        DWORD code = 0;
        program.exitCode = GetExitCodeProcess(process, &code) ? static_cast<int>(code) : -1;
        return ProgramWait::Finished;
    }
    case WAIT_TIMEOUT:
        return ProgramWait::TimedOut;
    default:
        return ProgramWait::Failed;
    }
}

void closeProgram(cLaunchedProgram &program)
{
    if (const HANDLE process = handleOf(program))
        CloseHandle(process);
    program.handle = 0;
}
