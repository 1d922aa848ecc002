#pragma once
// What the harness tells a test program through its environment (see
// tests/harness/harness.py): server ports, the harness folder, the temp folder.

#include <windows.h>

#include <string>

namespace harness {

std::wstring Env(const wchar_t* name);
int NginxPort();
int ScriptedPort();
// The harness folder as a Windows path (Z:\...).
std::wstring Dir();
// Where the scripted server serves its files from, and nginx's download host.
std::wstring ScriptedRoot();
std::wstring DownloadRoot();
// Base URL of the scripted server reached directly: "http://127.0.0.1:<port>".
std::wstring ScriptedBase();
// Folder of the running test program, with a trailing backslash.
std::wstring ProgramDir();

std::string Narrow(const std::wstring& text); // UTF-8
std::wstring Widen(const std::string& text);  // UTF-8

} // namespace harness
