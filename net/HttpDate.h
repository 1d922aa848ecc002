#pragma once
// HTTP dates as time values: signed 64-bit seconds in the C library's
// conventions. Only the form servers send is read:
//   Wed, 21 Oct 2015 07:28:00 GMT
// split at spaces and colons into weekday, day, month name (any letter case),
// year, hours, minutes, seconds; the rest is ignored. The fields are taken as
// local time with daylight saving off, so a time stamped on a file and read
// back compares equal, which is all the download relies on. The two older
// forms (hyphenated date, year last) and anything outside the years 1970 to
// 3000 give kInvalidTime.

#include "common/WideString.h"

const long long kInvalidTime = -1;
const long long kNoFileTime = 0;

long long ParseHttpDate(const wchar_t* text);

// The server form of a time value as ParseHttpDate gives it, so that
// ParseHttpDate reads it back as the same value: "Wed, 21 Oct 2015 07:28:00
// GMT". Empty for kInvalidTime, kNoFileTime and times past 3000.
WideString FormatHttpDate(long long time);
