#include "net/HttpDownloader.h"

#include "net/HeaderLines.h"
#include "net/PortableText.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <new>
#include <vector>

namespace {

const size_t kHeaderBufferChars = HttpDownloader::kHeaderBufferBytes / sizeof(wchar_t);

void SetNumberOption(HINTERNET handle, DWORD option, DWORD value)
{
    // A refused option is not fatal: the defaults still work.
    WinInetDll::InternetSetOptionW(handle, option, &value, sizeof value);
}

// A zero-filled buffer with one spare terminator after the platform's share.
std::unique_ptr<wchar_t[]> HeaderBuffer()
{
    return std::unique_ptr<wchar_t[]>(new (std::nothrow) wchar_t[kHeaderBufferChars + 1]());
}

// The headers the download reads, by the platform's info level.
struct NamedHeader {
    DWORD infoLevel;
    const wchar_t* name;
};
const NamedHeader kReadHeaders[] = {{HTTP_QUERY_CONTENT_TYPE, L"Content-Type"},
                                    {HTTP_QUERY_LAST_MODIFIED, L"Last-Modified"},
                                    {HTTP_QUERY_LOCATION, L"Location"},
                                    {HTTP_QUERY_CONTENT_RANGE, L"Content-Range"}};

} // namespace

HttpDownloader::HttpDownloader(void (*renameFailed)())
    : renameFailed_(renameFailed),
      session_(WinInetDll::InternetOpenW(L"KovraLoader", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0))
{
    if (!session_)
        return;
    SetNumberOption(session_.get(), INTERNET_OPTION_CONNECT_TIMEOUT, kTimeoutMs);
    SetNumberOption(session_.get(), INTERNET_OPTION_SEND_TIMEOUT, kTimeoutMs);
    SetNumberOption(session_.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, kTimeoutMs);
    SetNumberOption(session_.get(), INTERNET_OPTION_CONNECT_RETRIES, kConnectRetries);
    INTERNET_CONNECTED_INFO online = {INTERNET_STATE_CONNECTED, 0};
    WinInetDll::InternetSetOptionW(session_.get(), INTERNET_OPTION_CONNECTED_STATE, &online, sizeof online);
}

HttpDownloader::~HttpDownloader() = default;

void HttpDownloader::FetchHeaders(HINTERNET request)
{
    headers_.clear();
    std::unique_ptr<wchar_t[]> block = HeaderBuffer();
    if (!block)
        return;
    DWORD bytes = kHeaderBufferBytes;
    DWORD index = 0;
    if (WinInetDll::HttpQueryInfoW(request, HTTP_QUERY_RAW_HEADERS, block.get(), &bytes, &index)) {
        headers_ = SplitRawHeaders(block.get(), kHeaderBufferChars);
        return;
    }
    // A block over the buffer (a server padding its answer) must not hide
    // the few values the download decides by, a text page's type above all:
    // those are read one by one, each with a buffer of the same size.
    for (const NamedHeader& header : kReadHeaders) {
        std::fill(block.get(), block.get() + kHeaderBufferChars + 1, L'\0');
        bytes = kHeaderBufferBytes;
        index = 0;
        if (WinInetDll::HttpQueryInfoW(request, header.infoLevel, block.get(), &bytes, &index))
            headers_.push_back(WideString(header.name) + L": " + block.get());
    }
}

const wchar_t* HttpDownloader::FindHeader(const wchar_t* prefix) const
{
    return FindHeaderIn(headers_, prefix);
}

void HttpDownloader::PrintHeaders() const
{
    for (const WideString& line : headers_) {
        const int size = ::WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), nullptr, 0,
                                               nullptr, nullptr);
        // Bytes, not a std::string: that class would be the only user of its
        // library code in the loader.
        std::vector<char> text(static_cast<size_t>(size > 0 ? size : 0) + 1, '\n');
        if (size > 0)
            ::WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), text.data(), size, nullptr,
                                  nullptr);
        std::fwrite(text.data(), 1, text.size(), stdout);
    }
}

int HttpDownloader::QueryNumber(HINTERNET request, DWORD infoLevel) const
{
    std::unique_ptr<wchar_t[]> value = HeaderBuffer();
    if (!value)
        return 0;
    DWORD bytes = kHeaderBufferBytes;
    DWORD index = 0;
    if (!WinInetDll::HttpQueryInfoW(request, infoLevel, value.get(), &bytes, &index))
        return 0;
    return ParseSignedDecimal(value.get());
}
