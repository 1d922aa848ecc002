#pragma once
// Where a redirect's Location value points, as an absolute URL. Servers may
// send a relative reference ("/new/path", "file.exe", "//host/x", "?v=2");
// it is resolved against the URL that answered. No dot-segment removal: the
// server gets the path as written, as a browser's request line would, "@"
// included: only an "@" in a URL's server part ends a user name. A reference
// that names no server (all but "//host" and "scheme://") stays on the
// answering one.

#include "common/WideString.h"

// Empty when the Location value is empty or white space only.
WideString ResolveLocation(const wchar_t* base, const wchar_t* location);
