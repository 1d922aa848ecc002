#pragma once
// A URL split into the pieces WinINet's connection and request calls take.
//
// Accepted forms (one forgiving pass, nothing decoded or validated):
//   [scheme://][user[:password]@]host[:port][/path][?query][#fragment]
//   The server's part ends at the first "/", "?" or "#"; only an "@" inside
//   it ends a user name, so "h/a?b=c@d" names host "h".
//   "\" counts as "/", surrounding white space is ignored, a missing scheme
//   is "http", a missing or zero port is the scheme's default. A host in
//   brackets ([::1]) keeps its colons; the brackets are not part of `host`.
//
// A piece longer than its field, a user-info part over 127 characters, a
// port text over 31 characters or a port above 65535 makes the whole URL
// refused: every text is empty, port and service are 0 and `refused` is set.
// Nothing is ever cut, so a long URL can never turn into another, shorter one.

#include <cstddef>

// The platform's service numbers (INTERNET_SERVICE_FTP and _HTTP).
const int kServiceNone = 0;
const int kServiceFtp = 1;
const int kServiceHttp = 3;

struct UrlParts {
    static constexpr size_t kSchemeCapacity = 32;
    static constexpr size_t kUserCapacity = 64;
    static constexpr size_t kPasswordCapacity = 64;
    static constexpr size_t kHostCapacity = 512;
    static constexpr size_t kPathCapacity = 1024;
    static constexpr size_t kQueryCapacity = 1024;
    static constexpr size_t kFragmentCapacity = 1024;
    static constexpr size_t kUserInfoLimit = 127;
    static constexpr size_t kPortTextLimit = 31;

    wchar_t scheme[kSchemeCapacity];
    wchar_t user[kUserCapacity];
    wchar_t password[kPasswordCapacity];
    wchar_t host[kHostCapacity];
    int port;
    wchar_t path[kPathCapacity];
    wchar_t query[kQueryCapacity];
    wchar_t fragment[kFragmentCapacity];
    int service;
    bool refused;

    // ParseUrl: never fails; a null URL is taken as an empty one.
    explicit UrlParts(const wchar_t* url);
};

inline UrlParts ParseUrl(const wchar_t* url)
{
    return UrlParts(url);
}

// True for https, in any letter case: its requests need a secure channel.
bool IsSecureScheme(const UrlParts& parts);
