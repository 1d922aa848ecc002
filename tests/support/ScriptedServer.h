#pragma once
// Talks to the scripted server's control interface (directly, never through a
// proxy): register a script of answers for a path, clear them all, or any
// other control path.

#include "common/WideString.h"

namespace harness {

// Registers a script: json is the whole body, for example
//   {"path": "/f.bin", "steps": [{"method": "GET", "cut": 100}], "default": {}}
// Returns false when the server did not take it.
bool ScriptPath(const std::string& json);
bool ResetScripts();
// POSTs body to a control path; true with its answer when it answered 200.
bool Control(const wchar_t* path, const std::string& body, std::string* answer = nullptr);

// URL of the scripted server for a path, reached directly.
WideString ScriptedUrl(const WideString& path);

} // namespace harness
