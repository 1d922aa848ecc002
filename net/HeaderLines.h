#pragma once
// Reading the header lines of a response: the raw block the platform gives,
// one header by its name, numbers, Content-Range and Content-Type.

#include "common/WideString.h"

#include <vector>

// The platform's raw header block: zero-terminated lines, status line first,
// ended by an empty line. Never reads past `length` characters.
std::vector<WideString> SplitRawHeaders(const wchar_t* block, size_t length);

// The text after `prefix` in the first line starting with it, compared
// without regard to letter case over the prefix's length; the prefixes carry
// the colon and one space ("Location: "). Points into the line; "" when none.
const wchar_t* FindHeaderIn(const std::vector<WideString>& lines, const wchar_t* prefix);

// The value after "Content-Range: bytes ", e.g. "100-999/1000".
struct ContentRange {
    bool valid = false; // a first-byte position was found
    int first = 0;      // where the body's bytes go in the file
    int last = -1;      // position of the body's last byte; -1 when missing
    int total = -1;     // size of the whole file; -1 when "*" or missing
};
ContentRange ParseContentRange(const wchar_t* value);
// The size in the value of a 416's "Content-Range: bytes */<size>"; -1 when
// the value is not of that form.
int ParseUnsatisfiedRange(const wchar_t* value);

// "text/html" or "text/plain" in the first 127 characters (the capacity of
// the value), letter case as written: "Text/HTML" is not text.
bool IsTextContentType(const wchar_t* value);
const size_t kContentTypeCapacity = 128;

// A strong entity tag ("ETag: \"v1\""), quotes included, as If-Range sends it
// back: it names one version byte for byte. Empty for a weak one (W/"v1"),
// one that is not a quoted run of visible ASCII characters, or one of
// kEntityTagCapacity characters or more.
WideString StrongEntityTag(const wchar_t* value);
const size_t kEntityTagCapacity = 512;
