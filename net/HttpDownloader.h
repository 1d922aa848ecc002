#pragma once
// One WinINet session with the loader's user agent and time-outs, the header
// lines of the last response it read, and the resumable download built on
// them. One call at a time; the object must outlive a running download. One
// object serves the attempts of one run: what it learnt of a partial file
// that the disk cannot keep (an ETag) serves its later calls.

#include "common/UniqueHandle.h"
#include "common/UniqueInternetHandle.h"
#include "common/WideString.h"
#include "net/DownloadEvents.h"

#include <vector>

struct GetFacts;
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
    int Open(const WideString& url, Place& place);
    int Follow(const wchar_t* location, int hops, Place& place);
    int Request(const wchar_t* verb, const WideString& headers, Place& place, UniqueHInternet& request, int& status);
    bool SendRequest(HINTERNET request, const WideString& headers);
    int Probe(Place& place, FileFacts& facts);
    int ProbeByGet(Place& place, const wchar_t* target);
    int Announce(const WideString& url, const FileFacts& facts, const wchar_t* target, Files& files);
    bool PlaceFiles(const WideString& url, const wchar_t* target, Files& files) const;
    int AlreadyThere(const Files& files, bool text);
    int RecallKeptVersion(const WideString& tempPath, FileFacts& facts) const;
    void RecallTag(const WideString& tempPath, HeadFacts& head) const;
    void KeepTag(const WideString& tempPath, const WideString& tag);
    bool PlanTemporaryFile(Files& files, const HeadFacts& head);
    bool OpenTemporaryFile(const WideString& path, bool create);
    bool Receive(Place& place, const FileFacts& facts, int offset, Received& received);
    bool SendGet(Place& place, const FileFacts& facts, int offset, UniqueHInternet& get, GetFacts& answer);
    bool Continue(HINTERNET get, const TransferPlan& transfer, const GetFacts& answer, Received& received);
    bool WriteBody(HINTERNET get, const TransferPlan& transfer, Received& received);
    int FinishAndRename(const Files& files, bool text, Received received);
    bool Tell(int event, const void* data) const;
    void Say(const wchar_t* text) const { Tell(Message, text); }

    void (*const renameFailed_)();
    DownloadProgressCallback callback_ = nullptr;
    void* context_ = nullptr;
    UniqueHInternet session_;
    std::vector<WideString> headers_;
    UniqueCrtFile tempFile_;
    // Bytes left in a temporary file by an earlier call whose version only a
    // strong ETag names: the disk keeps no tag, so this object keeps it for
    // the calls of its run, with the time it left on the file.
    struct KeptTag {
        WideString tempPath;
        WideString tag;
        long long tempTime = 0;
    };
    KeptTag kept_;
};
