// ParseUrl on any text. Beyond not crashing: every field ends inside its
// capacity, a refused URL is all empty, the pieces hold what their names say
// (an "@" past the server's part is the path's, query's or fragment's),
// and writing the pieces back into a URL and splitting it again gives the
// same pieces (nothing lost or invented on the way to WinINet).

#include "net/DownloadPaths.h"
#include "net/UrlParts.h"
#include "tests/fuzz/FuzzInput.h"

#include <cwchar>
#include <string>

namespace {

// Every field ends inside its capacity.
template <size_t... N>
bool Terminated(const wchar_t (&... fields)[N])
{
    return ((std::wmemchr(fields, L'\0', N) != nullptr) && ...);
}

bool Has(const wchar_t* text, wchar_t c)
{
    return std::wcschr(text, c) != nullptr;
}

int ExpectedService(const WideString& scheme)
{
    const WideString lower = fuzz::LowerAscii(scheme);
    if (lower == L"http" || lower == L"https")
        return kServiceHttp;
    if (lower == L"ftp")
        return kServiceFtp;
    return kServiceNone;
}

// The pieces as one URL again. The user-info separator and the port are
// always written: an empty user info keeps a later "@" out of it, and an
// explicit port keeps white space at the host's end inside the URL.
WideString Rejoined(const UrlParts& parts)
{
    WideString url = parts.scheme;
    url += L"://";
    url += parts.user;
    url += L':';
    url += parts.password;
    url += L'@';
    const bool bracketed = Has(parts.host, L':');
    if (bracketed)
        url += L'[';
    url += parts.host;
    if (bracketed)
        url += L']';
    url += (L':' + std::to_wstring(parts.port)).c_str();
    url += parts.path;
    url += parts.query;
    url += parts.fragment;
    return url;
}

// The URL as the splitter reads it: "\\" as "/", surrounding white space gone.
WideString Normalised(const WideString& url)
{
    return fuzz::Trimmed(fuzz::Replaced(url, L'\\', L'/'));
}

void RequireSame(const UrlParts& a, const UrlParts& b)
{
    FUZZ_REQUIRE(a.refused == b.refused);
    FUZZ_REQUIRE(std::wcscmp(a.scheme, b.scheme) == 0);
    FUZZ_REQUIRE(std::wcscmp(a.user, b.user) == 0);
    FUZZ_REQUIRE(std::wcscmp(a.password, b.password) == 0);
    FUZZ_REQUIRE(std::wcscmp(a.host, b.host) == 0);
    FUZZ_REQUIRE(a.port == b.port);
    FUZZ_REQUIRE(std::wcscmp(a.path, b.path) == 0);
    FUZZ_REQUIRE(std::wcscmp(a.query, b.query) == 0);
    FUZZ_REQUIRE(std::wcscmp(a.fragment, b.fragment) == 0);
    FUZZ_REQUIRE(a.service == b.service);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto [url] = fuzz::Texts(data, size, {"url"});
    const UrlParts parts(url.c_str());

    FUZZ_REQUIRE(
        Terminated(parts.scheme, parts.user, parts.password, parts.host, parts.path, parts.query, parts.fragment));

    if (parts.refused) {
        for (const wchar_t* text : {parts.scheme, parts.user, parts.password, parts.host, parts.path, parts.query,
                                    parts.fragment})
            FUZZ_REQUIRE(text[0] == L'\0');
        FUZZ_REQUIRE(parts.port == 0);
        FUZZ_REQUIRE(parts.service == kServiceNone);
        return 0;
    }

    FUZZ_REQUIRE(parts.scheme[0] != L'\0');
    FUZZ_REQUIRE(parts.service == ExpectedService(parts.scheme));
    FUZZ_REQUIRE(parts.port >= 0 && parts.port <= 65535);
    FUZZ_REQUIRE(parts.service == kServiceNone || parts.port > 0);

    // Each piece starts with its mark and holds none of the later marks.
    FUZZ_REQUIRE(parts.path[0] == L'\0' || parts.path[0] == L'/');
    FUZZ_REQUIRE(parts.query[0] == L'\0' || parts.query[0] == L'?');
    FUZZ_REQUIRE(parts.fragment[0] == L'\0' || parts.fragment[0] == L'#');
    FUZZ_REQUIRE(!Has(parts.user, L':') && !Has(parts.user, L'@') && !Has(parts.password, L'@'));
    // The server's part ends at the first "/", "?" or "#": the host and the
    // user info come from before it, path, query and fragment are all that
    // follows it, as written (an "@" there never names another host).
    for (const wchar_t* text : {parts.user, parts.password, parts.host})
        FUZZ_REQUIRE(!Has(text, L'/') && !Has(text, L'?') && !Has(text, L'#'));
    const WideString tail = WideString(parts.path) + parts.query + parts.fragment;
    const WideString written = Normalised(url);
    FUZZ_REQUIRE(written.size() >= tail.size() &&
                 written.compare(written.size() - tail.size(), tail.size(), tail) == 0);
    FUZZ_REQUIRE(!Has(parts.path, L'?') && !Has(parts.path, L'#') && !Has(parts.query, L'#'));
    for (const wchar_t* text : {parts.scheme, parts.user, parts.password, parts.host, parts.path, parts.query,
                                parts.fragment})
        FUZZ_REQUIRE(!Has(text, L'\\'));

    // The request object name always fits its buffer.
    FUZZ_REQUIRE(MakeObjectName(parts).size() < kObjectNameCapacity);

    const WideString again = Rejoined(parts);
    fuzz::Show("rejoined", again);
    RequireSame(parts, UrlParts(again.c_str()));
    return 0;
}
