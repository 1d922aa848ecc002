#pragma once
// File modification times as the download compares and stamps them, through
// the C library's 64-bit time functions, so that a stamped time reads back as
// the same value.

// The last modification time, or kNoFileTime (0) when the status cannot be read.
long long GetFileModificationTime(const wchar_t* path);

// Size of the file, or -1 when the status cannot be read.
long long GetFileSize64(const wchar_t* path);

// Set access and modification time; kInvalidTime leaves the times as they are.
bool StampFileTimes(const wchar_t* path, long long time);
// The same through an open descriptor: stamps a file while it is written.
bool StampOpenFileTimes(int descriptor, long long time);
