#include "common/console.h"

#include <windows.h>

#include <io.h>

namespace Console {

namespace {

HANDLE handleOf(std::FILE* stream)
{
    const int descriptor = stream ? ::_fileno(stream) : -1;
    return descriptor < 0 ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(::_get_osfhandle(descriptor));
}

bool reachesSomewhere(std::FILE* stream)
{
    const HANDLE handle = handleOf(stream);
    return handle != INVALID_HANDLE_VALUE && handle != nullptr && ::GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

}  // namespace

bool isTerminal(std::FILE* stream)
{
    DWORD mode = 0;
    // A console answers GetConsoleMode; the null device and files, which _isatty takes for
    // terminals too, do not.
    return ::GetConsoleMode(handleOf(stream), &mode) != 0;
}

void attachToParent()
{
    // A console program has its own already; so has a program whose streams were redirected.
    if (::GetConsoleWindow() || (reachesSomewhere(stdout) && reachesSomewhere(stderr)))
        return;
    if (!::AttachConsole(ATTACH_PARENT_PROCESS))
        return;  // started from Explorer or a service: nothing to print to, as before
    if (!reachesSomewhere(stdout))
        std::freopen("CONOUT$", "w", stdout);
    if (!reachesSomewhere(stderr))
        std::freopen("CONOUT$", "w", stderr);
}

}  // namespace Console
