#include "tests/support/Process.h"

#include "common/UniqueHandle.h"

#include <cstdio>
#include <vector>

namespace harness {

ProcessResult RunProcess(const WideString& commandLine, DWORD timeoutMs)
{
    ProcessResult result;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    const ULONGLONG began = ::GetTickCount64();
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return result;
    UniqueKernelHandle process(info.hProcess);
    UniqueKernelHandle thread(info.hThread);
    result.started = true;
    if (::WaitForSingleObject(process.get(), timeoutMs) == WAIT_OBJECT_0) {
        result.finished = true;
        ::GetExitCodeProcess(process.get(), &result.exitCode);
    } else {
        ::TerminateProcess(process.get(), 0xDEAD);
        ::WaitForSingleObject(process.get(), 5000);
    }
    result.elapsedMs = static_cast<DWORD>(::GetTickCount64() - began);
    return result;
}

std::string ReadWholeFile(const WideString& path)
{
    std::string data;
    FILE* f = _wfopen(path.c_str(), L"rb");
    if (!f)
        return data;
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
        data.append(buffer, n);
    std::fclose(f);
    return data;
}

bool WriteWholeFile(const WideString& path, const std::string& data)
{
    FILE* f = _wfopen(path.c_str(), L"wb");
    if (!f)
        return false;
    const bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
    return std::fclose(f) == 0 && ok;
}

} // namespace harness
