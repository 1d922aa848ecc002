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

bool HasScheme(const std::wstring& reference)
{
    const size_t end = reference.find(L"://");
    if (end == std::wstring::npos || end == 0)
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

// The answering server's part of a URL, for a reference that names none.
// ParseUrl ends the user info at the first "@" anywhere, so the separator is
// written whenever an "@" follows in the host or the rest, even with no user.
std::wstring Origin(const UrlParts& base, const std::wstring& rest)
{
    std::wstring origin = base.scheme;
    origin += L"://";
    const bool atFollows = std::wcschr(base.host, L'@') || rest.find(L'@') != std::wstring::npos;
    if (base.user[0] || base.password[0] || atFollows) {
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

// An "@" in a reference without a server is part of its path or query, but
// ParseUrl would take the text before it for a user name and the text after
// it for the host: "/login?next=a@b" would lead to host b. Servers read
// "%40" as the same character.
std::wstring EscapedAt(const std::wstring& reference)
{
    std::wstring escaped;
    for (wchar_t c : reference) {
        if (c == L'@')
            escaped += L"%40";
        else
            escaped += c;
    }
    return escaped;
}

} // namespace

std::wstring ResolveLocation(const wchar_t* base, const wchar_t* location)
{
    std::wstring reference = location ? location : L"";
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
        return std::wstring(parts.scheme) + L":" + reference;
    const std::wstring relative = EscapedAt(reference);
    const std::wstring path = parts.path[0] ? parts.path : L"/";
    std::wstring rest;
    switch (relative[0]) {
    case L'/':
        rest = relative;
        break;
    case L'?':
        rest = path + relative;
        break;
    case L'#':
        rest = path + parts.query + relative;
        break;
    default:
        rest = path.substr(0, path.rfind(L'/') + 1) + relative;
        break;
    }
    return Origin(parts, rest) + rest;
}
