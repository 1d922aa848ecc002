#pragma once
// Talks to the scripted server's control interface (directly, never through a
// proxy): register a script of answers for a path, or clear them all.

#include <string>

namespace harness {

// Registers a script: json is the whole body, for example
//   {"path": "/f.bin", "steps": [{"method": "GET", "cut": 100}], "default": {}}
// Returns false when the server did not take it.
bool ScriptPath(const std::string& json);
bool ResetScripts();

// URL of the scripted server for a path, reached directly.
std::wstring ScriptedUrl(const std::wstring& path);

} // namespace harness
