// kovra-fetch URL TARGET
//
// Runs one HttpDownloader::Download and prints every event and the result,
// one line each, after the header lines the engine itself prints:
//   FileName setup.exe
//   TotalSize 1048576
//   Progress 10240
//   Message File exists, aborting
//   TextContent http://host/page.html
//   TextBody 1234            (bytes before the terminating zero)
//   Completed | Aborted
//   result 0
// Exit code 0 only when the result is Ok.

#include "net/DownloadEvents.h"
#include "net/HttpDownloader.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

std::string Utf8(const wchar_t* text)
{
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1)
        return std::string();
    std::string out(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], size, nullptr, nullptr);
    out.resize(static_cast<size_t>(size) - 1);
    return out;
}

bool PrintEvent(void*, int event, void* data)
{
    switch (event) {
    case TotalSize:
        std::printf("TotalSize %d\n", *static_cast<const int*>(data));
        break;
    case Progress:
        std::printf("Progress %d\n", *static_cast<const int*>(data));
        break;
    case Message:
        std::printf("Message %s\n", Utf8(static_cast<const wchar_t*>(data)).c_str());
        break;
    case TextContent:
        std::printf("TextContent %s\n", Utf8(static_cast<const wchar_t*>(data)).c_str());
        break;
    case FileName:
        std::printf("FileName %s\n", Utf8(static_cast<const wchar_t*>(data)).c_str());
        break;
    case TextBody:
        std::printf("TextBody %u\n", static_cast<unsigned>(std::strlen(static_cast<const char*>(data))));
        break;
    case Aborted:
        std::printf("Aborted\n");
        break;
    case Completed:
        std::printf("Completed\n");
        break;
    default:
        std::printf("Event %d\n", event);
        break;
    }
    return true;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: kovra-fetch URL TARGET\n");
        return 2;
    }
    HttpDownloader downloader;
    const int result = downloader.Download(argv[1], argv[2], PrintEvent, nullptr);
    std::printf("result %d\n", result);
    std::fflush(stdout);
    return result == Ok ? 0 : 1;
}
