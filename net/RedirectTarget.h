#pragma once
// Where a redirect's Location value points, as an absolute URL. Servers may
// send a relative reference ("/new/path", "file.exe", "//host/x", "?v=2");
// it is resolved against the URL that answered. No dot-segment removal: the
// server gets the path as written, as a browser's request line would. A
// reference that names no server ("//host") stays on the answering one: an
// "@" in it is sent as "%40", since ParseUrl would read what follows as a host.

#include <string>

// Empty when the Location value is empty or white space only.
std::wstring ResolveLocation(const wchar_t* base, const wchar_t* location);
