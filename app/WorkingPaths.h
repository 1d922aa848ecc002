#pragma once
// Where the loader puts the installer: the user's temporary folder, under the
// loader's own file name, and the folder the installer runs in.

#include <string>

// The temporary folder with its trailing separator; empty when unknown.
std::wstring GetTempDirectory();

// The running program's full path; empty when unknown. It is read into a
// buffer of firstBufferChars that doubles until the path fits.
std::wstring GetOwnPath(size_t firstBufferChars = 260);

// The file-name part of the running program's path; empty when unknown.
std::wstring GetOwnFileName(size_t firstBufferChars = 260);

// The part of path before its file name, separator kept; empty when the path
// has no file name.
std::wstring GetDirectoryPart(const std::wstring& path);

// The download target: temporary folder + own file name. Empty when either
// piece is unknown: a target without both would be a folder or a bare name.
std::wstring MakeTargetPath(const std::wstring& tempDirectory, const std::wstring& ownFileName);

// The name the installer is saved under when the loader itself runs from the
// temporary folder: a running program cannot be replaced by its download.
inline constexpr const wchar_t* kInstallerFallbackName = L"KovraInstallerD1.exe";

// The target for a loader at ownPath: MakeTargetPath, or, when that is the
// loader's own path (letter case aside), the temporary folder with
// kInstallerFallbackName.
std::wstring ChooseTargetPath(const std::wstring& tempDirectory, const std::wstring& ownPath);
