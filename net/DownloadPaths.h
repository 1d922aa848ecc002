#pragma once
// Names a download works with: the request object, the file name the URL
// gives, the final path and the hidden temporary path beside it.

#include "common/WideString.h"
#include "net/UrlParts.h"

const size_t kObjectNameCapacity = 2048;
const size_t kFileNameCapacity = 512;
const size_t kDownloadPathCapacity = 1024;
// Appended to the final path while the file is incomplete.
const wchar_t* const kTempSuffix = L".dul!";

// The URL's path followed by its query ("/" for an empty path before a
// query); the fragment never goes to the server.
WideString MakeObjectName(const UrlParts& parts);

// The part of the URL path after its last "/", cut at a "?"; empty when the
// path has no "/". False when the name is longer than its capacity.
bool FileNameFromUrlPath(const wchar_t* path, WideString* name);

// Final path: the target ("./" when null or empty) with "/" turned into "\",
// followed by the file name when it ends in "\". Temporary path: the final
// path and kTempSuffix. False when either would exceed its capacity, or when
// the final path still ends in "\" (no file name to store under).
bool MakeDownloadPaths(const wchar_t* target, const WideString& fileName, WideString* finalPath,
                       WideString* tempPath);
