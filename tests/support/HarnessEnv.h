#pragma once
// What the harness tells a test program through its environment (see
// tests/harness/harness.py): server ports, the harness folder, the temp folder.

#include <windows.h>

#include "common/WideString.h"

namespace harness {

WideString Env(const wchar_t* name);
int NginxPort();
int ScriptedPort();
// The harness folder as a Windows path (Z:\...).
WideString Dir();
// Where the scripted server serves its files from, and nginx's download host.
WideString ScriptedRoot();
WideString DownloadRoot();
// Base URL of the scripted server reached directly: "http://127.0.0.1:<port>".
WideString ScriptedBase();
// Folder of the running test program, with a trailing backslash.
WideString ProgramDir();

std::string Narrow(const WideString& text); // UTF-8
WideString Widen(const std::string& text);  // UTF-8

} // namespace harness
