#pragma once
// Starting helper programs from a test, and small file helpers.

#include <windows.h>

#include "common/WideString.h"

namespace harness {

struct ProcessResult {
    bool started = false;
    bool finished = false; // false: killed at the time-out
    DWORD exitCode = 0;
    DWORD elapsedMs = 0;
};

// Runs a command line and waits up to timeoutMs; a program still running then
// is terminated.
ProcessResult RunProcess(const WideString& commandLine, DWORD timeoutMs = 60000);

std::string ReadWholeFile(const WideString& path);
bool WriteWholeFile(const WideString& path, const std::string& data);

} // namespace harness
