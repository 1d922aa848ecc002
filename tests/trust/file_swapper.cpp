// Tries to replace a file that another program is about to run, the way a
// program on the machine would between a check and a launch:
//   file_swapper <target> <replacement> <ready> <stop> <timeoutMs>
// From the moment the target exists it opens it for writing over and over.
// While every open succeeds it writes nothing (the check has not begun).
// Once an open has been refused (someone holds the file), each later
// success overwrites the target with the replacement, and each refusal is
// followed by an attempt to move the replacement over the target. It ends
// when the <stop> file exists, or at the time-out, and prints counts:
//   opened_before  opens granted before the first refusal
//   write_refused  opens refused after it, rename_refused  moves refused
//   swapped        times the target was replaced (written or moved over)
// <ready> is created as soon as it runs.

#include "common/UniqueHandle.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

bool Exists(const wchar_t* path)
{
    return ::GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

std::vector<char> ReadAll(const wchar_t* path)
{
    std::vector<char> data;
    UniqueFileHandle file(::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file)
        return data;
    LARGE_INTEGER size{};
    ::GetFileSizeEx(file.get(), &size);
    data.resize(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    if (!data.empty())
        ::ReadFile(file.get(), data.data(), static_cast<DWORD>(data.size()), &read, nullptr);
    data.resize(read);
    return data;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 6) {
        std::fprintf(stderr, "usage: file_swapper <target> <replacement> <ready> <stop> <timeoutMs>\n");
        return 2;
    }
    const wchar_t* target = argv[1];
    const wchar_t* replacement = argv[2];
    const std::vector<char> bytes = ReadAll(replacement);
    if (bytes.empty()) {
        std::fprintf(stderr, "file_swapper: cannot read the replacement\n");
        return 3;
    }
    // Moved over the target, so a copy: the replacement stays for writes.
    const std::wstring spare = std::wstring(replacement) + L".spare";
    const DWORD deadline = ::GetTickCount() + static_cast<DWORD>(_wtoi(argv[5]));

    long openedBefore = 0, writeRefused = 0, renameRefused = 0, swapped = 0;
    bool armed = false;
    const UniqueFileHandle ready(::CreateFileW(argv[3], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    while (!Exists(argv[4]) && static_cast<int>(deadline - ::GetTickCount()) > 0) {
        UniqueFileHandle file(::CreateFileW(target, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                            nullptr, OPEN_EXISTING, 0, nullptr));
        const DWORD error = file ? ERROR_SUCCESS : ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            ::Sleep(1);
            continue;
        }
        if (file) {
            if (!armed) {
                ++openedBefore;
            } else {
                DWORD written = 0;
                if (::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                    ::SetEndOfFile(file.get()))
                    ++swapped;
            }
            file.reset();
            // Short opens, far apart: a program taking the file for itself
            // meets this one's handle only now and then.
            ::Sleep(2);
            continue;
        }
        armed = true;
        ++writeRefused;
        // Replacing by a move needs the right to delete the target.
        if (Exists(spare.c_str()) || ::CopyFileW(replacement, spare.c_str(), FALSE)) {
            if (::MoveFileExW(spare.c_str(), target, MOVEFILE_REPLACE_EXISTING))
                ++swapped;
            else
                ++renameRefused;
        }
        ::Sleep(1);
    }
    ::DeleteFileW(spare.c_str());
    std::printf("opened_before=%ld\nwrite_refused=%ld\nrename_refused=%ld\nswapped=%ld\n", openedBefore, writeRefused,
                renameRefused, swapped);
    return 0;
}
