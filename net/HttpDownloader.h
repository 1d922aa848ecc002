#pragma once
// One WinINet session with the loader's user agent and time-outs, the header
// lines of the last response it read, and the resumable download built on
// them. One call at a time; the object must outlive a running download.

#include "common/UniqueHandle.h"
#include "common/UniqueInternetHandle.h"
#include "net/DownloadEvents.h"

#include <string>
#include <vector>

struct HeadFacts;
struct TransferPlan;

class HttpDownloader {
public:
    // renameFailed, when given, is called when a finished file cannot take
    // its final name, right before the message that says so: the loader
    // counts that in its statistics, which the engine knows nothing of.
    explicit HttpDownloader(void (*renameFailed)() = nullptr);
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
    // Download's steps and what they share (net/DownloadProcedure.cpp).
    struct Place;
    struct FileFacts;
    struct Files;
    struct Received;
    int Open(const std::wstring& url, Place& place);
    int Follow(const wchar_t* location, int hops, Place& place);
    int Request(const wchar_t* verb, const std::wstring& headers, Place& place, UniqueHInternet& request, int& status);
    bool SendRequest(HINTERNET request, const std::wstring& headers);
    int Probe(Place& place, FileFacts& facts);
    int Announce(const Place& place, const FileFacts& facts, const wchar_t* target, Files& files);
    bool PlanTemporaryFile(Files& files, const HeadFacts& head);
    bool Receive(Place& place, const FileFacts& facts, int offset, Received& received);
    bool WriteBody(HINTERNET get, const TransferPlan& transfer, Received& received);
    int FinishAndRename(const Files& files, bool text, Received received);
    bool Tell(int event, const void* data) const;
    void Say(const wchar_t* text) const { Tell(Message, text); }

    void (*const renameFailed_)();
    DownloadProgressCallback callback_ = nullptr;
    void* context_ = nullptr;
    UniqueHInternet session_;
    std::vector<std::wstring> headers_;
    UniqueCrtFile tempFile_;
};
