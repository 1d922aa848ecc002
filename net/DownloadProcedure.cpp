// HttpDownloader::Download in named steps: the probe (a HEAD), the plan of
// the hidden temporary file beside the target, the ranged GET into it, and
// the finish with the rename into place. The HEAD and the GET follow
// redirects through one follower. Where the HEAD is refused, the ranged GET
// alone does the probe's work (ProbeByGet).

#include "net/HttpDownloader.h"

#include "net/DownloadPaths.h"
#include "net/FileTimes.h"
#include "net/HeaderLines.h"
#include "net/HttpDate.h"
#include "net/RedirectTarget.h"
#include "net/ResumePlan.h"
#include "net/UrlParts.h"

#include "common/DecimalText.h"
#include "common/ProxyCredentials.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <climits>
#include <cwchar>
#include <memory>
#include <new>
#include <utility>

namespace {

const size_t kLastModifiedCapacity = 512;
const size_t kLocationCapacity = 10240;

// What servers of signed URLs answer a HEAD when only the GET was signed (and
// servers that do not do HEAD at all): the GET may still work.
bool IsRefusedHead(int status)
{
    return status == 403 || status == 405 || status == 501;
}

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

HINTERNET OpenRequest(HINTERNET connection, const wchar_t* verb, const WideString& object, DWORD flags)
{
    LPCWSTR acceptTypes[] = {L"*/*", nullptr};
    HINTERNET request = WinInetDll::HttpOpenRequestW(connection, verb, object.c_str(), nullptr, nullptr, acceptTypes, flags, 0);
    if (request) {
        // Some WinINet builds (Wine's) do not pass the session's time-outs
        // on to requests; without these a silent server would hold the call.
        DWORD timeout = HttpDownloader::kTimeoutMs;
        WinInetDll::InternetSetOptionW(request, INTERNET_OPTION_CONNECT_TIMEOUT, &timeout, sizeof timeout);
        WinInetDll::InternetSetOptionW(request, INTERNET_OPTION_SEND_TIMEOUT, &timeout, sizeof timeout);
        WinInetDll::InternetSetOptionW(request, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof timeout);
    }
    return request;
}

// Reads and drops what is left of an answer, so that the same request can go
// again on its connection.
void DiscardBody(HINTERNET request)
{
    char sink[4096];
    DWORD received = 0;
    for (int reads = 0; reads < 256; ++reads)
        if (!WinInetDll::InternetReadFile(request, sink, sizeof sink, &received) || received == 0)
            return;
}

// The whole file followed by one zero byte; null when it cannot be read.
std::unique_ptr<char[]> ReadWholeFile(const WideString& path)
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

void SetHidden(const WideString& path, bool hidden)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return;
    ::SetFileAttributesW(path.c_str(), hidden ? (attributes | FILE_ATTRIBUTE_HIDDEN)
                                              : (attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN)));
}

// A header value copied out of the list, or "" when longer than its capacity.
WideString BoundedValue(const wchar_t* value, size_t capacity)
{
    const size_t length = std::wcslen(value);
    return length < capacity ? WideString(value, length) : WideString();
}

} // namespace

// Where a download's requests go: a URL and a connection to its server. A
// redirect moves it, and the GET starts where the HEAD ended.
struct HttpDownloader::Place {
    WideString url;
    UniqueHInternet connection;
    WideString object;
    DWORD flags = 0;
};

// What the HEAD said of the file.
struct HttpDownloader::FileFacts {
    HeadFacts head;
    // For If-Range: the version of the bytes kept, as the server wrote its
    // Last-Modified, or its strong ETag.
    WideString validator;
    bool text = false;    // a page stands in for the file
    bool refused = false; // the HEAD was refused: the GET probes
};

// Where the file goes, and how its temporary file starts.
struct HttpDownloader::Files {
    WideString finalPath;
    WideString tempPath;
    TempPlan plan;
};

// Where the ranged GET left the temporary file.
struct HttpDownloader::Received {
    int count = 0;       // bytes in the file, all of one version
    long long time = -1; // that version's Last-Modified
    bool stop = false;   // the callback asked to stop on the completing chunk
    WideString tag;    // the strong ETag that alone names that version
};

bool HttpDownloader::Tell(int event, const void* data) const
{
    return !callback_ || callback_(context_, event, const_cast<void*>(data));
}

int HttpDownloader::Download(const wchar_t* url, const wchar_t* target, DownloadProgressCallback callback,
                             void* context)
{
    callback_ = callback;
    context_ = context;
    Place place;
    FileFacts facts;
    Files files;
    int result = Open(url ? url : L"", place);
    if (result == Ok)
        result = Probe(place, facts);
    if (result == Ok && facts.refused)
        return ProbeByGet(place, target);
    if (result == Ok)
        result = Announce(place.url, facts, target, files);
    if (result != Ok)
        return result;
    RecallTag(files.tempPath, facts.head);
    if (IsFinalFileCurrent(GetFileModificationTime(files.finalPath.c_str()),
                           GetFileSize64(files.finalPath.c_str()), facts.head.time, facts.head.total))
        return AlreadyThere(files, facts.text);
    if (!PlanTemporaryFile(files, facts.head))
        return Failed;
    Received received = {files.plan.offset, facts.head.time, false, facts.head.tag};
    if (files.plan.start != TempStart::Complete && !Receive(place, facts, files.plan.offset, received)) {
        KeepTag(files.tempPath, received.tag);
        return Failed;
    }
    return FinishAndRename(files, facts.text, received);
}

// The final file is there already, of this version.
int HttpDownloader::AlreadyThere(const Files& files, bool text)
{
    Say(L"File exists, aborting");
    if (text) {
        std::unique_ptr<char[]> body = ReadWholeFile(files.finalPath);
        if (body && !Tell(TextBody, body.get()))
            _wremove(files.finalPath.c_str());
    }
    return Ok;
}

// The road of a refused HEAD. The ranged GET alone tells what the HEAD would
// have (the size, the version, a page or not) and its body is written as
// usual: one request. A partial file is asked for its rest under the version
// it holds (If-Range), and the answer must name that version.
int HttpDownloader::ProbeByGet(Place& place, const wchar_t* target)
{
    FileFacts facts;
    Files files;
    // The names come from where the HEAD ended, wherever the GET goes.
    const WideString url = place.url;
    if (!PlaceFiles(url, target, files)) {
        Announce(url, facts, target, files); // says why, as on the HEAD's road
        return Failed;
    }
    const int offset = RecallKeptVersion(files.tempPath, facts);
    UniqueHInternet get;
    GetFacts answer;
    if (!SendGet(place, facts, offset, get, answer))
        return Failed;
    const TransferPlan transfer = PlanTransfer(facts.head, offset, answer);
    // A 416 of nginx says text/html of its own error page.
    facts.text = answer.status / 100 == 2 && IsTextContentType(FindHeader(L"Content-Type: "));
    facts.head.total = transfer.total;
    int result = Announce(url, facts, target, files);
    if (result != Ok)
        return result;
    if (IsFinalFileCurrent(GetFileModificationTime(files.finalPath.c_str()),
                           GetFileSize64(files.finalPath.c_str()), transfer.time, transfer.total))
        return AlreadyThere(files, facts.text);
    if (!OpenTemporaryFile(files.tempPath, offset == 0))
        return Failed;
    Received received = {offset, facts.head.time, false, facts.head.tag};
    if (!Continue(get.get(), transfer, answer, received)) {
        KeepTag(files.tempPath, received.tag);
        return Failed;
    }
    return FinishAndRename(files, facts.text, received);
}

// The names of the final and the temporary file, quietly.
bool HttpDownloader::PlaceFiles(const WideString& url, const wchar_t* target, Files& files) const
{
    WideString fileName;
    return FileNameFromUrlPath(ParseUrl(url.c_str()).path, &fileName) &&
           MakeDownloadPaths(target, fileName, &files.finalPath, &files.tempPath);
}

// What the bytes in the temporary file are of, when nothing but the file can
// say: the tag this object left them under, or else the file's stamp, which
// the server's Last-Modified put there, written back as a date. The offset to
// ask from; 0, and nothing expected, when no version can be named.
int HttpDownloader::RecallKeptVersion(const WideString& tempPath, FileFacts& facts) const
{
    const long long size = GetFileSize64(tempPath.c_str());
    const long long time = GetFileModificationTime(tempPath.c_str());
    if (size <= 0 || size >= INT_MAX || time == kNoFileTime)
        return 0;
    if (kept_.tempPath == tempPath && kept_.tempTime == time)
        facts.head.tag = facts.validator = kept_.tag;
    else
        facts.validator = FormatHttpDate(time);
    if (facts.validator.empty()) {
        facts.head.tag.clear();
        return 0;
    }
    facts.head.time = time;
    facts.head.fromServer = false;
    return static_cast<int>(size);
}

// A version named only by its strong ETag: when this object left bytes of it
// in the temporary file, the time it left on the file stands for the
// version's time, and the file is continued only while it still has it.
void HttpDownloader::RecallTag(const WideString& tempPath, HeadFacts& head) const
{
    if (head.time == kInvalidTime && !head.tag.empty() && kept_.tempPath == tempPath && kept_.tag == head.tag)
        head.time = kept_.tempTime;
}

// After a call that leaves bytes named only by a strong ETag: the tag and the
// time the file now has, for the next call. Nothing to keep otherwise.
void HttpDownloader::KeepTag(const WideString& tempPath, const WideString& tag)
{
    tempFile_.reset();
    kept_.tempPath = tag.empty() ? WideString() : tempPath;
    kept_.tag = tag;
    kept_.tempTime = GetFileModificationTime(tempPath.c_str());
}

// Points place at url, with a connection of its own: http and https only.
int HttpDownloader::Open(const WideString& url, Place& place)
{
    const UrlParts parts = ParseUrl(url.c_str());
    if (parts.refused) {
        Say(L"URL too long");
        return Failed;
    }
    // ftp parses, but nothing here could fetch it: refuse it before any
    // connection rather than report success without a file.
    if (parts.service != kServiceHttp) {
        Say(L"Protocol not supported");
        return UnsupportedScheme;
    }
    UniqueHInternet connection(WinInetDll::InternetConnectW(session_.get(), parts.host, static_cast<INTERNET_PORT>(parts.port),
                                                  parts.user, parts.password, parts.service, 0, 0));
    if (!connection) {
        Say(L"InternetConnect() failed");
        return Failed;
    }
    place.url = url;
    place.connection = std::move(connection);
    place.object = MakeObjectName(parts);
    place.flags = RequestFlags(parts);
    return Ok;
}

// Moves place to where a redirect answer points: ten hops at most, a
// relative Location resolved against the URL that answered.
int HttpDownloader::Follow(const wchar_t* location, int hops, Place& place)
{
    const WideString next = ResolveLocation(place.url.c_str(), BoundedValue(location, kLocationCapacity).c_str());
    if (next.empty()) {
        Say(L"Redirected to unknown location");
        return Failed;
    }
    if (hops == kMaxRedirects) {
        Say(L"Too many redirects");
        return Failed;
    }
    return Open(next, place);
}

// Sends verb to place with headers, following redirect answers. Ok with the
// answer in request, its header lines read and printed, and its status;
// HeadNotSent when a request could not be sent; otherwise what the follower
// answered.
int HttpDownloader::Request(const wchar_t* verb, const WideString& headers, Place& place, UniqueHInternet& request,
                            int& status)
{
    for (int hops = 0;; ++hops) {
        request.reset(OpenRequest(place.connection.get(), verb, place.object, place.flags));
        if (!request || !SendRequest(request.get(), headers))
            return HeadNotSent;
        FetchHeaders(request.get());
        PrintHeaders();
        status = QueryNumber(request.get(), HTTP_QUERY_STATUS_CODE);
        if (!IsRedirect(status))
            return Ok;
        request.reset();
        const int followed = Follow(FindHeader(L"Location: "), hops, place);
        if (followed != Ok)
            return followed;
    }
}

// Sends a request; false only when the platform reports an error. A failed
// send with no error code is taken as sent. A proxy that asks who we are
// (407) is answered with what the user types, when the caller asks for it:
// the request then goes again, as often as the caller lets it.
bool HttpDownloader::SendRequest(HINTERNET request, const WideString& headers)
{
    // Credentials the proxy took earlier in the run, from any session.
    PresentProxyCredentials(request);
    for (bool typed = false;; typed = true) {
        if (!WinInetDll::HttpSendRequestW(request, headers.empty() ? nullptr : headers.c_str(),
                                static_cast<DWORD>(headers.size()), nullptr, 0))
            return ::GetLastError() == 0;
        ProxyChallenge challenge = {request, false};
        if (QueryNumber(request, HTTP_QUERY_STATUS_CODE) == HTTP_STATUS_PROXY_AUTH_REQ)
            Tell(ProxyAuthRequired, &challenge);
        else if (typed)
            RememberProxyCredentials(request);
        if (!challenge.sendAgain)
            return true;
        DiscardBody(request);
    }
}

// The probe: a HEAD says whether the file is there, how large it is, which
// version it is, and whether a page stands in for it.
int HttpDownloader::Probe(Place& place, FileFacts& facts)
{
    UniqueHInternet request;
    int status = 0;
    const int result = Request(L"HEAD", WideString(), place, request, status);
    if (result != Ok)
        return result;
    if (IsRefusedHead(status)) {
        facts.refused = true;
        return Ok;
    }
    if (status != 200)
        return UnexpectedStatus;
    const int length = QueryNumber(request.get(), HTTP_QUERY_CONTENT_LENGTH);
    // Sizes and offsets are 32-bit: 2 GiB or more cannot be counted.
    if (length == INT_MAX) {
        Say(L"File too large");
        return Failed;
    }
    facts.head.total = length > 0 ? length : kUnknownTotal;
    facts.text = IsTextContentType(FindHeader(L"Content-Type: "));
    // Last-Modified names the version where there is one; a strong ETag
    // only where there is none.
    facts.validator = BoundedValue(FindHeader(L"Last-Modified: "), kLastModifiedCapacity);
    facts.head.time = ParseHttpDate(facts.validator.c_str());
    if (facts.head.time == kInvalidTime)
        facts.validator = facts.head.tag = StrongEntityTag(FindHeader(L"ETag: "));
    return Ok;
}

// Tells the caller what comes (a page in place of the file, the file's name
// and size) and works out where it goes.
int HttpDownloader::Announce(const WideString& url, const FileFacts& facts, const wchar_t* target, Files& files)
{
    if (facts.text && !Tell(TextContent, url.c_str()))
        return Failed;
    WideString fileName;
    if (!FileNameFromUrlPath(ParseUrl(url.c_str()).path, &fileName)) {
        Say(L"File name too long");
        return Failed;
    }
    const int announced = facts.head.total;
    if (!Tell(FileName, fileName.c_str()) || !Tell(TotalSize, &announced)) {
        Tell(Aborted, nullptr);
        return Failed;
    }
    if (!MakeDownloadPaths(target, fileName, &files.finalPath, &files.tempPath)) {
        Say(L"Invalid target path");
        return Failed;
    }
    return Ok;
}

// The plan of the temporary file: created anew, or kept to be continued or
// finished, and open for writing, hidden. False when it cannot be opened.
bool HttpDownloader::PlanTemporaryFile(Files& files, const HeadFacts& head)
{
    const wchar_t* path = files.tempPath.c_str();
    files.plan = PlanTempFile(GetFileModificationTime(path), GetFileSize64(path), head.time, head.total);
    return OpenTemporaryFile(files.tempPath, files.plan.start == TempStart::Create);
}

// Opens the temporary file for writing, hidden: emptied, or as it is.
bool HttpDownloader::OpenTemporaryFile(const WideString& path, bool create)
{
    if (create) {
        // A hidden file cannot be recreated in place: remove it first.
        _wremove(path.c_str());
        tempFile_.reset(_wopen(path.c_str(), _O_RDWR | _O_BINARY | _O_CREAT | _O_TRUNC | _O_NOINHERIT,
                               _S_IREAD | _S_IWRITE));
    } else {
        tempFile_.reset(_wopen(path.c_str(), _O_RDWR | _O_BINARY | _O_NOINHERIT));
    }
    if (!tempFile_)
        return false;
    SetHidden(path, true);
    return true;
}

// The ranged GET from offset into the open temporary file. True when the file
// now holds the whole server file. On false the reason has been said (where
// there is one to say), and the file is cut to the bytes that came and stamped
// with their version, ready for the next call. Redirects keep the Range and
// If-Range, and what comes is held to the probed version.
bool HttpDownloader::Receive(Place& place, const FileFacts& facts, int offset, Received& received)
{
    UniqueHInternet get;
    GetFacts answer;
    if (!SendGet(place, facts, offset, get, answer))
        return false;
    return Continue(get.get(), PlanTransfer(facts.head, offset, answer), answer, received);
}

// Sends the ranged GET from offset and reads what its answer says of the
// file. False, said why, when it is no answer to go on with.
bool HttpDownloader::SendGet(Place& place, const FileFacts& facts, int offset, UniqueHInternet& get,
                             GetFacts& answer)
{
    WideString requestHeaders = L"Range: bytes=" + DecimalText(offset) + L"-\r\n";
    // Continue only if the server still has the version these bytes are of;
    // otherwise it answers 200 with the whole new file.
    if (offset > 0)
        requestHeaders += L"If-Range: " + facts.validator + L"\r\n";
    if (Request(L"GET", requestHeaders, place, get, answer.status) != Ok)
        return false;
    // A 416 may say that everything asked for is on disk already.
    if (answer.status / 100 != 2 && !(answer.status == 416 && offset > 0)) {
        Say(L"Sould be <2xx>");
        return false;
    }
    answer.time = ParseHttpDate(BoundedValue(FindHeader(L"Last-Modified: "), kLastModifiedCapacity).c_str());
    answer.tag = StrongEntityTag(FindHeader(L"ETag: "));
    answer.contentLength = QueryNumber(get.get(), HTTP_QUERY_CONTENT_LENGTH);
    answer.range = ParseContentRange(FindHeader(L"Content-Range: bytes "));
    answer.unsatisfiedTotal = ParseUnsatisfiedRange(FindHeader(L"Content-Range: bytes "));
    return true;
}

// Goes on with a GET's answer as transfer plans it: the file complete, the
// body written, or the answer refused.
bool HttpDownloader::Continue(HINTERNET get, const TransferPlan& transfer, const GetFacts& answer,
                              Received& received)
{
    if (transfer.start == TransferStart::Complete) {
        received.count = transfer.total;
        received.time = transfer.time;
        return true;
    }
    if (transfer.start == TransferStart::BadRange) {
        Say(L"Unexpected Content-Range");
        return false;
    }
    if (transfer.start == TransferStart::VersionMoved) {
        // These bytes would finish the old version with the new one's.
        _chsize(tempFile_.get(), 0);
        Say(L"File changed on the server");
        return false;
    }
    received.time = transfer.time;
    // A version with a Last-Modified is stamped on the file; one named only
    // by a tag is remembered.
    if (answer.time != kInvalidTime)
        received.tag.clear();
    else if (!answer.tag.empty())
        received.tag = answer.tag;
    return WriteBody(get, transfer, received);
}

// Writes the GET's body into the temporary file from transfer.first on, as
// Receive says.
bool HttpDownloader::WriteBody(HINTERNET get, const TransferPlan& transfer, Received& received)
{
    const int file = tempFile_.get();
    // Whatever lies past the write position is not known to belong to this
    // version: cut it now, so that a killed process leaves a clean prefix.
    int count = transfer.first;
    bool writeFailed = _chsize(file, count) != 0 || _lseek(file, count, SEEK_SET) != count;
    // The cut moves the file's time: the version's goes back before the wait
    // for the first bytes, so that a kill there keeps what is on disk.
    StampOpenFileTimes(file, received.time);
    bool readFailed = false;
    std::unique_ptr<char[]> buffer(new char[kChunkBytes]);
    while (!writeFailed) {
        DWORD got = 0;
        if (!WinInetDll::InternetReadFile(get, buffer.get(), kChunkBytes, &got)) {
            readFailed = true;
            break;
        }
        if (got == 0)
            break;
        if (got > static_cast<DWORD>(INT_MAX - count)) {
            writeFailed = true;
            break;
        }
        // Only bytes on disk count: a failed write is never reported as received.
        const int written = _write(file, buffer.get(), got);
        if (written > 0)
            count += written;
        if (written != static_cast<int>(got)) {
            writeFailed = true;
            break;
        }
        // The time says which version the bytes are of, also after a kill.
        StampOpenFileTimes(file, received.time);
        if (!Tell(Progress, &count)) {
            received.stop = true;
            break;
        }
    }
    received.count = count;
    // Without a size anywhere, a body that ended cleanly is the whole file; a
    // stop asked for on a chunk cannot know it was the last.
    const bool whole = transfer.total == kUnknownTotal ? !readFailed && !received.stop : count == transfer.total;
    if (!writeFailed && whole)
        return true;
    _chsize(file, count);
    StampOpenFileTimes(file, received.time);
    Say(writeFailed ? L"Error during writing tmp file" : L"Error during downloading, network error");
    return false;
}

// The finish: the whole file cut to its length and stamped, shown to the
// caller when it is a page, and renamed into place.
int HttpDownloader::FinishAndRename(const Files& files, bool text, Received received)
{
    const bool cut = _chsize(tempFile_.get(), received.count) == 0;
    tempFile_.reset();
    if (!cut) {
        Say(L"Error during writing tmp file");
        return Failed;
    }
    StampFileTimes(files.tempPath.c_str(), received.time);
    if (text) {
        std::unique_ptr<char[]> body = ReadWholeFile(files.tempPath);
        if (body && !Tell(TextBody, body.get())) {
            _wremove(files.tempPath.c_str());
            received.stop = true;
        }
    }
    if (received.stop) {
        Tell(Aborted, nullptr);
        return Failed;
    }
    _wremove(files.finalPath.c_str());
    if (_wrename(files.tempPath.c_str(), files.finalPath.c_str()) != 0) {
        if (renameFailed_)
            renameFailed_();
        Say(L"Error during renaming tmp file");
        return Failed;
    }
    SetHidden(files.finalPath, false);
    Tell(Completed, nullptr);
    return Ok;
}
