#pragma once
// Where the loader puts the installer: the user's temporary folder, under the
// loader's own file name, and the folder the installer runs in.

#include "common/WideString.h"

// The temporary folder with its trailing separator; empty when unknown.
WideString GetTempDirectory();

// The running program's full path; empty when unknown. It is read into a
// buffer of firstBufferChars that doubles until the path fits.
WideString GetOwnPath(size_t firstBufferChars = 260);

// The part of path before its file name, separator kept; empty when the path
// has no file name.
WideString GetDirectoryPart(const WideString& path);

// The download target: temporary folder + own file name. Empty when either
// piece is unknown: a target without both would be a folder or a bare name.
WideString MakeTargetPath(const WideString& tempDirectory, const WideString& ownFileName);

// The names the installer is saved under when the loader itself runs from the
// temporary folder (a running program cannot be replaced by its download):
// the first, or the second for a loader that already has the first.
inline constexpr const wchar_t* kInstallerFallbackName = L"KovraInstallerD1.exe";
inline constexpr const wchar_t* kInstallerSecondFallbackName = L"KovraInstallerD1 (1).exe";

// Whether path names the file at ownPath: the same spelling (letter case
// aside), or the same file on disk however it is spelt (a short 8.3 folder
// name, another drive mapping).
bool IsSameFile(const WideString& path, const WideString& ownPath);

// The target for a loader at ownPath: MakeTargetPath, or, when that is the
// loader itself, the temporary folder with the first fallback name that is
// not; empty when none is left.
WideString ChooseTargetPath(const WideString& tempDirectory, const WideString& ownPath);
