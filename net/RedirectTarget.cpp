#include "net/RedirectTarget.h"

#include "net/PortableText.h"
#include "net/UrlParts.h"

#include "common/DecimalText.h"

#include <cwchar>

namespace {

bool IsSchemeChar(wchar_t c, bool first)
{
    const bool alpha = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
    if (first)
        return alpha;
    return alpha || (c >= L'0' && c <= L'9') || c == L'+' || c == L'-' || c == L'.';
}

bool HasScheme(const WideString& reference)
{
    const size_t end = reference.find(L"://");
    if (end == WideString::npos || end == 0)
        return false;
    for (size_t i = 0; i < end; ++i)
        if (!IsSchemeChar(reference[i], i == 0))
            return false;
    return true;
}

int DefaultPort(const wchar_t* scheme)
{
    if (EqualsNoCase(scheme, L"http", 5))
        return 80;
    if (EqualsNoCase(scheme, L"https", 6))
        return 443;
    if (EqualsNoCase(scheme, L"ftp", 4))
        return 21;
    return 0;
}

// The answering server's part of a URL, for a reference that names none. A
// host with an "@" (from "http://@a@b/") keeps a user-info separator before
// it, however empty, so that splitting the URL again finds the same host.
WideString Origin(const UrlParts& base)
{
    WideString origin = base.scheme;
    origin += L"://";
    if (base.user[0] || base.password[0] || std::wcschr(base.host, L'@')) {
        origin += base.user;
        if (base.password[0]) {
            origin += L':';
            origin += base.password;
        }
        origin += L'@';
    }
    const bool ipv6 = std::wcschr(base.host, L':') != nullptr;
    if (ipv6)
        origin += L'[';
    origin += base.host;
    if (ipv6)
        origin += L']';
    if (base.port != 0 && base.port != DefaultPort(base.scheme))
        origin += L':' + DecimalText(base.port);
    return origin;
}

} // namespace

WideString ResolveLocation(const wchar_t* base, const wchar_t* location)
{
    WideString reference = location ? location : L"";
    size_t first = 0, last = reference.size();
    while (first < last && IsSpace(reference[first]))
        ++first;
    while (last > first && IsSpace(reference[last - 1]))
        --last;
    reference = reference.substr(first, last - first);
    if (reference.empty() || HasScheme(reference))
        return reference;

    const UrlParts parts(base);
    if (parts.refused || parts.host[0] == L'\0')
        return reference;

    if (reference.compare(0, 2, L"//") == 0)
        return WideString(parts.scheme) + L":" + reference;
    const WideString path = parts.path[0] ? parts.path : L"/";
    WideString rest;
    switch (reference[0]) {
    case L'/':
        rest = reference;
        break;
    case L'?':
        rest = path + reference;
        break;
    case L'#':
        rest = path + parts.query + reference;
        break;
    default:
        rest = path.substr(0, path.rfind(L'/') + 1) + reference;
        break;
    }
    return Origin(parts) + rest;
}
