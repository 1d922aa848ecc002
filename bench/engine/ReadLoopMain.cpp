// kovra-bench-readloop URL TARGET [stamp]
//
// The least a WinINet client can do to fetch a file: one GET with the
// engine's request flags, InternetReadFile into the same 10,240-byte buffer,
// each chunk written at once. With "stamp" it also sets the file's times
// through the descriptor after every chunk, as the engine does, so the
// benchmark can tell that cost apart. Prints the bytes and milliseconds.

#include "common/UniqueHandle.h"
#include "common/UniqueInternetHandle.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <sys/utime.h>

#include <cstdio>
#include <cwchar>
#include <string>

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: kovra-bench-readloop URL TARGET [stamp]\n");
        return 2;
    }
    const bool stamp = argc > 3 && std::wcscmp(argv[3], L"stamp") == 0;
    const ULONGLONG began = ::GetTickCount64();

    URL_COMPONENTSW parts{};
    parts.dwStructSize = sizeof parts;
    wchar_t host[512], path[2048];
    parts.lpszHostName = host;
    parts.dwHostNameLength = 512;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = 2048;
    if (!::InternetCrackUrlW(argv[1], 0, 0, &parts))
        return 3;

    UniqueHInternet session(::InternetOpenW(L"KovraLoader", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    UniqueHInternet connection(::InternetConnectW(session.get(), host, parts.nPort, nullptr, nullptr,
                                                  INTERNET_SERVICE_HTTP, 0, 0));
    LPCWSTR acceptTypes[] = {L"*/*", nullptr};
    UniqueHInternet request(::HttpOpenRequestW(connection.get(), L"GET", path, nullptr, nullptr, acceptTypes,
                                               INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_NO_CACHE_WRITE |
                                                   INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_AUTO_REDIRECT,
                                               0));
    if (!request || !::HttpSendRequestW(request.get(), nullptr, 0, nullptr, 0))
        return 4;

    UniqueCrtFile file(_wopen(argv[2], _O_RDWR | _O_BINARY | _O_CREAT | _O_TRUNC, _S_IREAD | _S_IWRITE));
    if (!file)
        return 5;
    static char buffer[10240];
    long long total = 0;
    DWORD received = 0;
    __utimbuf64 times = {1600000000, 1600000000};
    while (::InternetReadFile(request.get(), buffer, sizeof buffer, &received) && received > 0) {
        if (_write(file.get(), buffer, received) != static_cast<int>(received))
            return 6;
        total += received;
        if (stamp)
            _futime64(file.get(), &times);
    }
    std::printf("bytes %lld ms %llu\n", total, ::GetTickCount64() - began);
    return 0;
}
