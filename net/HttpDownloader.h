#pragma once
// One WinINet session with the loader's user agent and time-outs, the header
// lines of the last response it read, and the resumable download built on
// them. One call at a time; the object must outlive a running download.

#include "common/UniqueHandle.h"
#include "common/UniqueInternetHandle.h"
#include "net/DownloadEvents.h"

#include <string>
#include <vector>

class HttpDownloader {
public:
    HttpDownloader();
    virtual ~HttpDownloader();
    HttpDownloader(const HttpDownloader&) = delete;
    HttpDownloader& operator=(const HttpDownloader&) = delete;

    // Fetches url into target (a file path, or a folder ending in "\" or "/";
    // null or empty means "./") through the hidden temporary file
    // target + ".dul!", resuming what an earlier call left there. Returns a
    // DownloadResult.
    int Download(const wchar_t* url, const wchar_t* target, DownloadProgressCallback callback, void* context);

    // Reads the response's raw header lines into the list. When they do not
    // fit the 20,480-byte buffer, the list holds only the headers the download
    // reads (Content-Type, Last-Modified, Location, Content-Range) that fit.
    void FetchHeaders(HINTERNET request);
    // The value after prefix ("Content-Type: ") in the first matching line of
    // the list; "" when none. Valid until the next FetchHeaders.
    const wchar_t* FindHeader(const wchar_t* prefix) const;
    // Writes the list to standard output, one line each.
    void PrintHeaders() const;
    // One response value (HTTP_QUERY_STATUS_CODE, ..._CONTENT_LENGTH) as a
    // signed decimal; 0 when the response has none or it does not fit.
    int QueryNumber(HINTERNET request, DWORD infoLevel) const;

    static constexpr int kMaxRedirects = 10;
    static constexpr DWORD kTimeoutMs = 7000;
    static constexpr DWORD kConnectRetries = 3;
    static constexpr size_t kHeaderBufferBytes = 20480;
    static constexpr DWORD kChunkBytes = 10240;

private:
    // One URL of a download. A redirect fills *redirect with the absolute
    // target and returns with every handle of this URL closed.
    int DownloadOne(const wchar_t* url, const wchar_t* target, DownloadProgressCallback callback, void* context,
                    std::wstring* redirect);

    UniqueHInternet session_;
    std::vector<std::wstring> headers_;
    UniqueCrtFile tempFile_;
};
