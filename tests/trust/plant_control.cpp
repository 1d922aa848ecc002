// Links WinINet the ordinary way, so that the DLL is loaded with the
// program, from the program's own folder first: the planting test starts it
// beside the planted DLLs to show that a plant there does get loaded.

#include <windows.h>
#include <wininet.h>

int wmain(int argc, wchar_t**)
{
    // Never true: the call only makes the import.
    if (argc > 1000)
        ::InternetCloseHandle(nullptr);
    return 0;
}
