// ResolveLocation on any answering URL and Location value (the input holds
// both, separated by a NUL), and the shell check on what comes out, since the
// resolved URL is what a text page hands to the shell.
//
// Beyond not crashing: a Location is empty only when it is blank; an absolute
// one is kept as sent; a relative one stays on the answering server (same
// scheme, user, host and port once split again) and its path reaches the
// server as written, "@" included; the result is itself
// absolute, so a later redirect from it resolves against it unchanged; and a
// URL accepted for the shell is a web URL as ParseUrl reads it.

#include "app/TextPageUrl.h"
#include "net/RedirectTarget.h"
#include "net/UrlParts.h"
#include "tests/fuzz/FuzzInput.h"

#include <cwchar>
#include <string>

namespace {

// scheme "://" with a scheme of RFC 3986's letters.
bool IsAbsolute(const WideString& reference)
{
    const size_t end = reference.find(L"://");
    if (end == WideString::npos || end == 0)
        return false;
    for (size_t i = 0; i < end; ++i) {
        const wchar_t c = fuzz::LowerAscii(reference[i]);
        const bool letter = c >= L'a' && c <= L'z';
        if (!(letter || (i > 0 && ((c >= L'0' && c <= L'9') || c == L'+' || c == L'-' || c == L'.'))))
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto [base, location] = fuzz::Texts(data, size, {"base", "location"});

    const WideString resolved = ResolveLocation(base.c_str(), location.c_str());
    fuzz::Show("resolved", resolved);
    const WideString reference = fuzz::Trimmed(location);

    FUZZ_REQUIRE(resolved.empty() == reference.empty());
    FUZZ_REQUIRE(fuzz::Trimmed(resolved) == resolved);
    if (IsAbsolute(reference))
        FUZZ_REQUIRE(resolved == reference);

    const UrlParts from(base.c_str());
    const bool relative = !reference.empty() && !IsAbsolute(reference);
    if (relative && !from.refused && from.host[0] != L'\0' && from.service != kServiceNone) {
        const UrlParts to(resolved.c_str());
        // Too long to use is a fair answer; another server is not.
        if (!to.refused) {
            FUZZ_REQUIRE(std::wcscmp(to.scheme, from.scheme) == 0);
            if (reference.compare(0, 2, L"//") != 0) {
                FUZZ_REQUIRE(std::wcscmp(to.user, from.user) == 0);
                FUZZ_REQUIRE(std::wcscmp(to.password, from.password) == 0);
                FUZZ_REQUIRE(std::wcscmp(to.host, from.host) == 0);
                FUZZ_REQUIRE(to.port == from.port);
            }
        }
        FUZZ_REQUIRE(IsAbsolute(resolved));
        // The reference's path, query or fragment reaches the server as written.
        if (reference[0] == L'/' && reference.compare(0, 2, L"//") != 0)
            FUZZ_REQUIRE(resolved.size() >= reference.size() &&
                         resolved.compare(resolved.size() - reference.size(), reference.size(), reference) == 0);
    }
    if (IsAbsolute(resolved))
        FUZZ_REQUIRE(ResolveLocation(L"http://elsewhere/x", resolved.c_str()) == resolved);

    for (const WideString* url : {&resolved, &base}) {
        if (!IsWebPageUrl(url->c_str()))
            continue;
        FUZZ_REQUIRE(fuzz::StartsWithNoCase(*url, L"http://") || fuzz::StartsWithNoCase(*url, L"https://"));
        for (wchar_t c : *url)
            FUZZ_REQUIRE(c > L' ' && c != 0x7F && c != L'"');
        const UrlParts page(url->c_str());
        FUZZ_REQUIRE(page.refused || page.service == kServiceHttp);
    }
    return 0;
}
