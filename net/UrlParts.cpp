#include "net/UrlParts.h"

#include "net/PortableText.h"

#include <cwchar>
#include <string>

namespace {

// Copies a piece into its field, or reports that it does not fit.
template <size_t N>
bool Store(wchar_t (&field)[N], const std::wstring& text)
{
    if (text.size() >= N)
        return false;
    std::wmemcpy(field, text.c_str(), text.size() + 1);
    return true;
}

void Clear(UrlParts& parts)
{
    parts.scheme[0] = parts.user[0] = parts.password[0] = parts.host[0] = L'\0';
    parts.path[0] = parts.query[0] = parts.fragment[0] = L'\0';
    parts.port = 0;
    parts.service = kServiceNone;
}

std::wstring Trimmed(const std::wstring& text)
{
    size_t first = 0, last = text.size();
    while (first < last && IsSpace(text[first]))
        ++first;
    while (last > first && IsSpace(text[last - 1]))
        --last;
    return text.substr(first, last - first);
}

// The user info before the first "@" anywhere, even past the host ("host/a@b"
// names host b), taken off rest.
bool SplitUserInfo(UrlParts& parts, std::wstring& rest)
{
    const size_t at = rest.find(L'@');
    if (at == std::wstring::npos)
        return true;
    const std::wstring userInfo = rest.substr(0, at);
    if (userInfo.size() > UrlParts::kUserInfoLimit)
        return false;
    const size_t colon = userInfo.find(L':');
    if (!Store(parts.user, userInfo.substr(0, colon)))
        return false;
    if (colon != std::wstring::npos && !Store(parts.password, userInfo.substr(colon + 1)))
        return false;
    rest.erase(0, at + 1);
    return true;
}

// The path with its query and fragment, from the first "/" on, taken off rest.
bool SplitPath(UrlParts& parts, std::wstring& rest)
{
    const size_t slash = rest.find(L'/');
    if (slash == std::wstring::npos)
        return true;
    std::wstring pathPart = rest.substr(slash);
    rest.erase(slash);
    const size_t hash = pathPart.find(L'#');
    if (hash != std::wstring::npos) {
        if (!Store(parts.fragment, pathPart.substr(hash)))
            return false;
        pathPart.erase(hash);
    }
    const size_t question = pathPart.find(L'?');
    if (question != std::wstring::npos) {
        if (!Store(parts.query, pathPart.substr(question)))
            return false;
        pathPart.erase(question);
    }
    return Store(parts.path, pathPart);
}

// What remains is host and port. A bracketed host is an IPv6 literal whose
// colons are not a port.
bool SplitHostAndPort(UrlParts& parts, const std::wstring& rest)
{
    size_t portColon = std::wstring::npos;
    std::wstring host = rest;
    if (!rest.empty() && rest[0] == L'[' && rest.find(L']') != std::wstring::npos) {
        const size_t close = rest.find(L']');
        host = rest.substr(1, close - 1);
        if (close + 1 < rest.size() && rest[close + 1] == L':')
            portColon = close + 1;
    } else {
        portColon = rest.find(L':');
        if (portColon != std::wstring::npos)
            host = rest.substr(0, portColon);
    }
    if (portColon != std::wstring::npos) {
        const std::wstring portText = rest.substr(portColon + 1);
        if (portText.size() > UrlParts::kPortTextLimit)
            return false;
        const long long port = ParseLeadingDigits(portText.c_str(), 65535);
        if (port > 65535)
            return false;
        parts.port = static_cast<int>(port);
    }
    return Store(parts.host, host);
}

// The scheme ("http" when none), with its service and default port.
bool StoreScheme(UrlParts& parts, std::wstring scheme)
{
    if (scheme.empty())
        scheme = L"http";
    if (!Store(parts.scheme, scheme))
        return false;
    struct Known {
        const wchar_t* name;
        int port;
        int service;
    };
    static const Known known[] = {
        {L"http", 80, kServiceHttp},
        {L"ftp", 21, kServiceFtp},
        {L"https", 443, kServiceHttp},
    };
    for (const Known& k : known) {
        if (scheme.size() == std::wcslen(k.name) && EqualsNoCase(scheme.c_str(), k.name, scheme.size())) {
            if (parts.port == 0)
                parts.port = k.port;
            parts.service = k.service;
        }
    }
    return true;
}

bool Split(UrlParts& parts, const wchar_t* url)
{
    std::wstring rest = url ? url : L"";
    for (wchar_t& c : rest)
        if (c == L'\\')
            c = L'/';
    rest = Trimmed(rest);

    std::wstring scheme;
    const size_t schemeEnd = rest.find(L"://");
    if (schemeEnd != std::wstring::npos) {
        scheme = rest.substr(0, schemeEnd);
        rest.erase(0, schemeEnd + 3);
    }
    return SplitUserInfo(parts, rest) && SplitPath(parts, rest) && SplitHostAndPort(parts, rest) &&
           StoreScheme(parts, scheme);
}

} // namespace

UrlParts::UrlParts(const wchar_t* url)
{
    Clear(*this);
    refused = !Split(*this, url);
    if (refused)
        Clear(*this);
}

bool IsSecureScheme(const UrlParts& parts)
{
    return EqualsNoCase(parts.scheme, L"https", 6);
}
