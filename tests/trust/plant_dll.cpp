// A DLL planted beside a program under the name of a system DLL. It only
// records that it was loaded: it appends its own path to the file named by
// KOVRA_PLANT_RECORD.

#include <windows.h>

#include <cstdio>
#include <cwchar>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID)
{
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    wchar_t record[MAX_PATH * 2];
    const DWORD length = ::GetEnvironmentVariableW(L"KOVRA_PLANT_RECORD", record, MAX_PATH * 2);
    if (length == 0 || length >= MAX_PATH * 2)
        return TRUE;
    wchar_t path[MAX_PATH * 2] = {};
    ::GetModuleFileNameW(self, path, MAX_PATH * 2);
    if (FILE* file = _wfopen(record, L"a")) {
        std::fwprintf(file, L"%ls\n", path);
        std::fclose(file);
    }
    return TRUE;
}
