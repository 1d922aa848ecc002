#pragma once
// Where the loader puts the installer: the user's temporary folder, under the
// loader's own file name, and the folder the installer runs in.

#include <string>

// The temporary folder with its trailing separator; empty when unknown.
std::wstring GetTempDirectory();

// The file-name part of the running program's path; empty when unknown. The
// path is read into a buffer of firstBufferChars that doubles until it fits.
std::wstring GetOwnFileName(size_t firstBufferChars = 260);

// The part of path before its file name, separator kept; empty when the path
// has no file name.
std::wstring GetDirectoryPart(const std::wstring& path);

// The download target: temporary folder + own file name. Empty when either
// piece is unknown: a target without both would be a folder or a bare name.
std::wstring MakeTargetPath(const std::wstring& tempDirectory, const std::wstring& ownFileName);
