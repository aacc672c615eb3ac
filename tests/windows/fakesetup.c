/* Stands in for a vendor's driver installer in driver\setup.exe: writes the command line it was
 * started with and its current directory to started-with.txt beside itself, then exits with the
 * number in exit-code.txt beside itself (0 without one). */
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>
#include <windows.h>

static void besideMe(wchar_t *path, const wchar_t *name)
{
    GetModuleFileNameW(NULL, path, MAX_PATH);
    wchar_t *slash = wcsrchr(path, L'\\');
    if (slash)
        slash[1] = 0;
    wcsncat(path, name, MAX_PATH - wcslen(path) - 1);
}

int main(void)
{
    wchar_t path[MAX_PATH + 32];
    int argc = 0;
    wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    wchar_t directory[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, directory);

    besideMe(path, L"started-with.txt");
    FILE *record = _wfopen(path, L"w, ccs=UTF-8");
    if (record) {
        for (int i = 1; i < argc; ++i)
            fwprintf(record, L"argument %ls\n", argv[i]);
        fwprintf(record, L"directory %ls\n", directory);
        fclose(record);
    }

    int code = 0;
    besideMe(path, L"exit-code.txt");
    FILE *wanted = _wfopen(path, L"r");
    if (wanted) {
        if (fscanf(wanted, "%d", &code) != 1)
            code = 0;
        fclose(wanted);
    }
    /* Long enough for the wizard to draw its progress a few times. */
    Sleep(300);
    return code;
}
