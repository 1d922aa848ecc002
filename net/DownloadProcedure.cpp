// HttpDownloader::Download: HEAD, then a ranged GET into a hidden temporary
// file beside the target, then the rename into place.

#include "net/HttpDownloader.h"

#include "net/DownloadPaths.h"
#include "net/FileTimes.h"
#include "net/HeaderLines.h"
#include "net/HttpDate.h"
#include "net/InternetHandle.h"
#include "net/RedirectTarget.h"
#include "net/ResumePlan.h"
#include "net/UrlParts.h"
#include "stats/StatsReporter.h"

#include "common/DecimalText.h"
#include "common/ProxyCredentials.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <climits>
#include <cwchar>
#include <memory>
#include <new>

namespace {

const size_t kLastModifiedCapacity = 512;
const size_t kLocationCapacity = 10240;

class Events {
public:
    Events(DownloadProgressCallback callback, void* context) : callback_(callback), context_(context) {}

    bool Send(int event, const void* data) const
    {
        return !callback_ || callback_(context_, event, const_cast<void*>(data));
    }
    void Say(const wchar_t* text) const { Send(Message, text); }

private:
    DownloadProgressCallback callback_;
    void* context_;
};

bool IsRedirect(int status)
{
    // The platform's own following is off (it has no bound), so every kind
    // of redirect it would have followed arrives here.
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

DWORD RequestFlags(const UrlParts& parts)
{
    // Straight from the server every time, and never a copy of the body in
    // the platform's cache: the file on disk is the only copy.
    DWORD flags = INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_RELOAD |
                  INTERNET_FLAG_NO_AUTO_REDIRECT;
    if (IsSecureScheme(parts))
        flags |= INTERNET_FLAG_SECURE;
    return flags;
}

HINTERNET OpenRequest(HINTERNET connection, const wchar_t* verb, const std::wstring& object, DWORD flags)
{
    LPCWSTR acceptTypes[] = {L"*/*", nullptr};
    HINTERNET request = ::HttpOpenRequestW(connection, verb, object.c_str(), nullptr, nullptr, acceptTypes, flags, 0);
    if (request) {
        // Some WinINet builds (Wine's) do not pass the session's time-outs
        // on to requests; without these a silent server would hold the call.
        DWORD timeout = HttpDownloader::kTimeoutMs;
        ::InternetSetOptionW(request, INTERNET_OPTION_CONNECT_TIMEOUT, &timeout, sizeof timeout);
        ::InternetSetOptionW(request, INTERNET_OPTION_SEND_TIMEOUT, &timeout, sizeof timeout);
        ::InternetSetOptionW(request, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof timeout);
    }
    return request;
}

// The request's status, 0 when it has none.
DWORD StatusOf(HINTERNET request)
{
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!::HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr))
        return 0;
    return status;
}

// Reads and drops what is left of an answer, so that the same request can go
// again on its connection.
void DiscardBody(HINTERNET request)
{
    char sink[4096];
    DWORD received = 0;
    for (int reads = 0; reads < 256; ++reads)
        if (!::InternetReadFile(request, sink, sizeof sink, &received) || received == 0)
            return;
}

// Sends a request; false only when the platform reports an error. A failed
// send with no error code is taken as sent. A proxy that asks who we are
// (407) is answered with what the user types, when the caller asks for it:
// the request then goes again, as often as the caller lets it.
bool Send(HINTERNET request, const std::wstring& headers, const Events& events)
{
    // Credentials the proxy took earlier in the run, from any session.
    PresentProxyCredentials(request);
    for (bool typed = false;; typed = true) {
        if (!::HttpSendRequestW(request, headers.empty() ? nullptr : headers.c_str(),
                                static_cast<DWORD>(headers.size()), nullptr, 0))
            return ::GetLastError() == 0;
        ProxyChallenge challenge = {request, false};
        if (StatusOf(request) == HTTP_STATUS_PROXY_AUTH_REQ)
            events.Send(ProxyAuthRequired, &challenge);
        else if (typed)
            RememberProxyCredentials(request);
        if (!challenge.sendAgain)
            return true;
        DiscardBody(request);
    }
}

// The whole file followed by one zero byte; null when it cannot be read.
std::unique_ptr<char[]> ReadWholeFile(const std::wstring& path)
{
    UniqueCrtFile file(_wopen(path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT));
    if (!file)
        return nullptr;
    const long size = _filelength(file.get());
    if (size < 0 || size == LONG_MAX)
        return nullptr;
    std::unique_ptr<char[]> data(new (std::nothrow) char[static_cast<size_t>(size) + 1]());
    if (!data)
        return nullptr;
    long done = 0;
    while (done < size) {
        const int n = _read(file.get(), data.get() + done, static_cast<unsigned>(size - done));
        if (n <= 0)
            return nullptr;
        done += n;
    }
    return data;
}

void SetHidden(const std::wstring& path, bool hidden)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return;
    ::SetFileAttributesW(path.c_str(), hidden ? (attributes | FILE_ATTRIBUTE_HIDDEN)
                                              : (attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN)));
}

// A header value copied out of the list, or "" when longer than its capacity.
std::wstring BoundedValue(const wchar_t* value, size_t capacity)
{
    const size_t length = std::wcslen(value);
    return length < capacity ? std::wstring(value, length) : std::wstring();
}

// Where the ranged GET left the temporary file.
struct Received {
    int count = 0;       // bytes in the file, all of one version
    long long time = -1; // that version's Last-Modified
    bool stop = false;   // the callback asked to stop on the completing chunk
};

// Where a GET goes: the HEAD's connection first, then one of its own for each
// place it is redirected to.
struct GetPlace {
    std::wstring url;
    HINTERNET connection;
    std::wstring object;
    DWORD flags;
    InternetHandle ownConnection;
};

// Moves the GET to where a redirect answer points, with the HEAD's rules:
// bounded, a relative Location resolved, http and https only. False when it
// cannot go there (said).
bool FollowGetRedirect(HINTERNET session, const wchar_t* location, int hops, GetPlace& place, const Events& events)
{
    const std::wstring next = ResolveLocation(place.url.c_str(), BoundedValue(location, kLocationCapacity).c_str());
    if (next.empty()) {
        events.Say(L"Redirected to unknown location");
        return false;
    }
    if (hops == HttpDownloader::kMaxRedirects) {
        events.Say(L"Too many redirects");
        return false;
    }
    const UrlParts parts(next.c_str());
    if (parts.refused) {
        events.Say(L"URL too long");
        return false;
    }
    if (parts.service != kServiceHttp) {
        events.Say(L"Protocol not supported");
        return false;
    }
    place.ownConnection.reset(::InternetConnectW(session, parts.host, static_cast<INTERNET_PORT>(parts.port),
                                                 parts.user, parts.password, parts.service, 0, 0));
    if (!place.ownConnection) {
        events.Say(L"InternetConnect() failed");
        return false;
    }
    place.url = next;
    place.connection = place.ownConnection.get();
    place.object = MakeObjectName(parts);
    place.flags = RequestFlags(parts);
    return true;
}

// The ranged GET from offset into the open temporary file. True when the file
// now holds the whole server file. On false the reason has been said (where
// there is one to say), and the file is cut to the bytes that came and stamped
// with their version, ready for the next call. Redirects are followed with the
// same Range and If-Range, and what comes is held to the HEAD's version.
bool ReceiveRest(HttpDownloader& downloader, HINTERNET session, GetPlace& place, const HeadFacts& head,
                 const std::wstring& lastModified, int offset, int file, const Events& events, Received* out)
{
    std::wstring requestHeaders = L"Range: bytes=" + DecimalText(offset) + L"-\r\n";
    // Continue only if the server still has the version these bytes are of;
    // otherwise it answers 200 with the whole new file.
    if (offset > 0)
        requestHeaders += L"If-Range: " + lastModified + L"\r\n";
    InternetHandle get;
    GetFacts facts;
    for (int hops = 0;; ++hops) {
        get.reset(OpenRequest(place.connection, L"GET", place.object, place.flags));
        if (!get || !Send(get.get(), requestHeaders, events))
            return false;
        downloader.FetchHeaders(get.get());
        downloader.PrintHeaders();
        facts.status = downloader.QueryNumber(get.get(), HTTP_QUERY_STATUS_CODE);
        if (!IsRedirect(facts.status))
            break;
        get.reset();
        if (!FollowGetRedirect(session, downloader.FindHeader(L"Location: "), hops, place, events))
            return false;
    }
    // A 416 may say that everything asked for is on disk already.
    if (facts.status / 100 != 2 && !(facts.status == 416 && offset > 0)) {
        events.Say(L"Sould be <2xx>");
        return false;
    }
    facts.time =
        ParseHttpDate(BoundedValue(downloader.FindHeader(L"Last-Modified: "), kLastModifiedCapacity).c_str());
    facts.contentLength = downloader.QueryNumber(get.get(), HTTP_QUERY_CONTENT_LENGTH);
    facts.range = ParseContentRange(downloader.FindHeader(L"Content-Range: bytes "));
    facts.unsatisfiedTotal = ParseUnsatisfiedRange(downloader.FindHeader(L"Content-Range: bytes "));
    const TransferPlan transfer = PlanTransfer(head, offset, facts);
    if (transfer.start == TransferStart::Complete) {
        out->count = transfer.total;
        out->time = transfer.time;
        return true;
    }
    if (transfer.start == TransferStart::BadRange) {
        events.Say(L"Unexpected Content-Range");
        return false;
    }
    if (transfer.start == TransferStart::VersionMoved) {
        // These bytes would finish the old version with the new one's.
        _chsize(file, 0);
        events.Say(L"File changed on the server");
        return false;
    }
    out->time = transfer.time;

    // Whatever lies past the write position is not known to belong to this
    // version: cut it now, so that a killed process leaves a clean prefix.
    int count = transfer.first;
    bool writeFailed = _chsize(file, count) != 0 || _lseek(file, count, SEEK_SET) != count;
    bool readFailed = false;
    std::unique_ptr<char[]> buffer(new char[HttpDownloader::kChunkBytes]);
    while (!writeFailed) {
        DWORD received = 0;
        if (!::InternetReadFile(get.get(), buffer.get(), HttpDownloader::kChunkBytes, &received)) {
            readFailed = true;
            break;
        }
        if (received == 0)
            break;
        if (received > static_cast<DWORD>(INT_MAX - count)) {
            writeFailed = true;
            break;
        }
        // Only bytes on disk count: a failed write is never reported as received.
        const int written = _write(file, buffer.get(), received);
        if (written > 0)
            count += written;
        if (written != static_cast<int>(received)) {
            writeFailed = true;
            break;
        }
        // The time says which version the bytes are of, also after a kill.
        StampOpenFileTimes(file, out->time);
        if (!events.Send(Progress, &count)) {
            out->stop = true;
            break;
        }
    }
    out->count = count;
    // Without a size anywhere, a body that ended cleanly is the whole file; a
    // stop asked for on a chunk cannot know it was the last.
    const bool whole = transfer.total == kUnknownTotal ? !readFailed && !out->stop : count == transfer.total;
    if (!writeFailed && whole)
        return true;

    _chsize(file, count);
    StampOpenFileTimes(file, out->time);
    if (writeFailed)
        events.Say(L"Error during writing tmp file");
    else
        events.Say(L"Error during downloading, network error");
    return false;
}

} // namespace

int HttpDownloader::Download(const wchar_t* url, const wchar_t* target, DownloadProgressCallback callback,
                             void* context)
{
    try {
        std::wstring current = url ? url : L"";
        for (int redirects = 0;; ++redirects) {
            std::wstring next;
            const int result = DownloadOne(current.c_str(), target, callback, context, &next);
            if (next.empty())
                return result;
            if (redirects == kMaxRedirects) {
                Events(callback, context).Say(L"Too many redirects");
                return Failed;
            }
            current.swap(next);
        }
    } catch (...) {
        // Only allocation can throw here; the handles are closed by their owners.
        tempFile_.reset();
        return Failed;
    }
}

int HttpDownloader::DownloadOne(const wchar_t* url, const wchar_t* target, DownloadProgressCallback callback,
                                void* context, std::wstring* redirect)
{
    const Events events(callback, context);
    const UrlParts parts(url);
    if (parts.refused) {
        events.Say(L"URL too long");
        return Failed;
    }
    // ftp parses, but nothing here could fetch it: refuse it before any
    // connection rather than report success without a file.
    if (parts.service != kServiceHttp) {
        events.Say(L"Protocol not supported");
        return UnsupportedScheme;
    }

    InternetHandle connection(::InternetConnectW(session_.get(), parts.host, static_cast<INTERNET_PORT>(parts.port),
                                                 parts.user, parts.password, parts.service, 0, 0));
    if (!connection) {
        events.Say(L"InternetConnect() failed");
        return Failed;
    }
    const std::wstring object = MakeObjectName(parts);
    const DWORD flags = RequestFlags(parts);

    HeadFacts head;
    std::wstring lastModified;
    bool text = false;
    {
        InternetHandle request(OpenRequest(connection.get(), L"HEAD", object, flags));
        if (!request || !Send(request.get(), std::wstring(), events))
            return HeadNotSent;
        FetchHeaders(request.get());
        PrintHeaders();
        const int status = QueryNumber(request.get(), HTTP_QUERY_STATUS_CODE);
        if (IsRedirect(status)) {
            const std::wstring location = BoundedValue(FindHeader(L"Location: "), kLocationCapacity);
            *redirect = ResolveLocation(url, location.c_str());
            if (redirect->empty()) {
                events.Say(L"Redirected to unknown location");
                return Failed;
            }
            return Failed; // the caller follows it
        }
        if (status != 200)
            return UnexpectedStatus;
        const int length = QueryNumber(request.get(), HTTP_QUERY_CONTENT_LENGTH);
        // Sizes and offsets are 32-bit: 2 GiB or more cannot be counted.
        if (length == INT_MAX) {
            events.Say(L"File too large");
            return Failed;
        }
        head.total = length > 0 ? length : kUnknownTotal;
        text = IsTextContentType(FindHeader(L"Content-Type: "));
        lastModified = BoundedValue(FindHeader(L"Last-Modified: "), kLastModifiedCapacity);
        head.time = ParseHttpDate(lastModified.c_str());
    }

    if (text && !events.Send(TextContent, url))
        return Failed;
    std::wstring fileName;
    if (!FileNameFromUrlPath(parts.path, &fileName)) {
        events.Say(L"File name too long");
        return Failed;
    }
    if (!events.Send(FileName, fileName.c_str())) {
        events.Send(Aborted, nullptr);
        return Failed;
    }
    const int announced = head.total;
    if (!events.Send(TotalSize, &announced)) {
        events.Send(Aborted, nullptr);
        return Failed;
    }
    std::wstring finalPath, tempPath;
    if (!MakeDownloadPaths(target, fileName, &finalPath, &tempPath)) {
        events.Say(L"Invalid target path");
        return Failed;
    }

    if (IsFinalFileCurrent(GetFileModificationTime(finalPath.c_str()), GetFileSize64(finalPath.c_str()), head.time,
                           head.total)) {
        events.Say(L"File exists, aborting");
        if (text) {
            std::unique_ptr<char[]> body = ReadWholeFile(finalPath);
            if (body && !events.Send(TextBody, body.get()))
                _wremove(finalPath.c_str());
        }
        return Ok;
    }

    const TempPlan plan = PlanTempFile(GetFileModificationTime(tempPath.c_str()), GetFileSize64(tempPath.c_str()),
                                       head.time, head.total);
    if (plan.start == TempStart::Create) {
        // A hidden file cannot be recreated in place: remove it first.
        _wremove(tempPath.c_str());
        tempFile_.reset(_wopen(tempPath.c_str(), _O_RDWR | _O_BINARY | _O_CREAT | _O_TRUNC | _O_NOINHERIT,
                               _S_IREAD | _S_IWRITE));
    } else {
        tempFile_.reset(_wopen(tempPath.c_str(), _O_RDWR | _O_BINARY | _O_NOINHERIT));
    }
    if (!tempFile_)
        return Failed;
    SetHidden(tempPath, true);

    Received received;
    received.count = plan.offset;
    received.time = head.time;
    GetPlace place = {url, connection.get(), object, flags, InternetHandle()};
    if (plan.start != TempStart::Complete &&
        !ReceiveRest(*this, session_.get(), place, head, lastModified, plan.offset, tempFile_.get(), events,
                     &received)) {
        tempFile_.reset();
        return Failed;
    }
    const int count = received.count;
    const long long fileTime = received.time;
    bool stop = received.stop;

    const bool cut = _chsize(tempFile_.get(), count) == 0;
    tempFile_.reset();
    if (!cut) {
        events.Say(L"Error during writing tmp file");
        return Failed;
    }
    StampFileTimes(tempPath.c_str(), fileTime);
    if (text) {
        std::unique_ptr<char[]> body = ReadWholeFile(tempPath);
        if (body && !events.Send(TextBody, body.get())) {
            _wremove(tempPath.c_str());
            stop = true;
        }
    }
    if (stop) {
        events.Send(Aborted, nullptr);
        return Failed;
    }

    _wremove(finalPath.c_str());
    if (_wrename(tempPath.c_str(), finalPath.c_str()) != 0) {
        ReportRenameFailed();
        events.Say(L"Error during renaming tmp file");
        return Failed;
    }
    SetHidden(finalPath, false);
    events.Send(Completed, nullptr);
    return Ok;
}
