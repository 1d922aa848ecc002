#pragma once
// Starting helper programs from a test, and small file helpers.

#include <windows.h>

#include <string>

namespace harness {

struct ProcessResult {
    bool started = false;
    bool finished = false; // false: killed at the time-out
    DWORD exitCode = 0;
    DWORD elapsedMs = 0;
};

// Runs a command line and waits up to timeoutMs; a program still running then
// is terminated.
ProcessResult RunProcess(const std::wstring& commandLine, DWORD timeoutMs = 60000);

std::string ReadWholeFile(const std::wstring& path);
bool WriteWholeFile(const std::wstring& path, const std::string& data);

} // namespace harness
