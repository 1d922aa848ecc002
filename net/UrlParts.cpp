#include "net/UrlParts.h"

#include "common/WideString.h"
#include "net/PortableText.h"

#include <cwchar>

namespace {

// Copies a piece into its field, or reports that it does not fit.
template <size_t N>
bool Store(wchar_t (&field)[N], const WideString& text)
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

WideString Trimmed(const WideString& text)
{
    size_t first = 0, last = text.size();
    while (first < last && IsSpace(text[first]))
        ++first;
    while (last > first && IsSpace(text[last - 1]))
        --last;
    return text.substr(first, last - first);
}

// The user info before the first "@" of the server's part, taken off it. An
// "@" after that part belongs to the path, query or fragment
// ("host/a?b=c@d" names host "host").
bool SplitUserInfo(UrlParts& parts, WideString& authority)
{
    const size_t at = authority.find(L'@');
    if (at == WideString::npos)
        return true;
    const WideString userInfo = authority.substr(0, at);
    if (userInfo.size() > UrlParts::kUserInfoLimit)
        return false;
    const size_t colon = userInfo.find(L':');
    if (!Store(parts.user, userInfo.substr(0, colon)))
        return false;
    if (colon != WideString::npos && !Store(parts.password, userInfo.substr(colon + 1)))
        return false;
    authority.erase(0, at + 1);
    return true;
}

// The path with its query and fragment: all that follows the server's part.
bool SplitPath(UrlParts& parts, WideString pathPart)
{
    const size_t hash = pathPart.find(L'#');
    if (hash != WideString::npos) {
        if (!Store(parts.fragment, pathPart.substr(hash)))
            return false;
        pathPart.erase(hash);
    }
    const size_t question = pathPart.find(L'?');
    if (question != WideString::npos) {
        if (!Store(parts.query, pathPart.substr(question)))
            return false;
        pathPart.erase(question);
    }
    return Store(parts.path, pathPart);
}

// What remains is host and port. A bracketed host is an IPv6 literal whose
// colons are not a port.
bool SplitHostAndPort(UrlParts& parts, const WideString& rest)
{
    size_t portColon = WideString::npos;
    WideString host = rest;
    if (!rest.empty() && rest[0] == L'[' && rest.find(L']') != WideString::npos) {
        const size_t close = rest.find(L']');
        host = rest.substr(1, close - 1);
        if (close + 1 < rest.size() && rest[close + 1] == L':')
            portColon = close + 1;
    } else {
        portColon = rest.find(L':');
        if (portColon != WideString::npos)
            host = rest.substr(0, portColon);
    }
    if (portColon != WideString::npos) {
        const WideString portText = rest.substr(portColon + 1);
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
bool StoreScheme(UrlParts& parts, WideString scheme)
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
    WideString rest = url ? url : L"";
    for (wchar_t& c : rest)
        if (c == L'\\')
            c = L'/';
    rest = Trimmed(rest);

    WideString scheme;
    const size_t schemeEnd = rest.find(L"://");
    if (schemeEnd != WideString::npos) {
        scheme = rest.substr(0, schemeEnd);
        rest.erase(0, schemeEnd + 3);
    }
    // The server's part ends at the first "/", "?" or "#".
    const size_t serverEnd = rest.find_first_of(L"/?#");
    WideString authority = rest.substr(0, serverEnd);
    const WideString pathPart = serverEnd == WideString::npos ? WideString() : rest.substr(serverEnd);
    return SplitUserInfo(parts, authority) && SplitPath(parts, pathPart) && SplitHostAndPort(parts, authority) &&
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
