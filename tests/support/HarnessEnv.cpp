#include "tests/support/HarnessEnv.h"

#include <vector>

namespace harness {

std::wstring Env(const wchar_t* name)
{
    std::vector<wchar_t> buffer(32768);
    const DWORD n = ::GetEnvironmentVariableW(name, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0 || n >= buffer.size())
        return std::wstring();
    return std::wstring(buffer.data(), n);
}

int NginxPort() { return _wtoi(Env(L"KOVRA_NGINX_PORT").c_str()); }
int ScriptedPort() { return _wtoi(Env(L"KOVRA_SCRIPTED_PORT").c_str()); }
std::wstring Dir() { return Env(L"KOVRA_HARNESS_DIR_WIN"); }
std::wstring ScriptedRoot() { return Dir() + L"\\www\\scripted\\"; }
std::wstring DownloadRoot() { return Dir() + L"\\www\\download\\"; }
std::wstring ScriptedBase() { return L"http://127.0.0.1:" + std::to_wstring(ScriptedPort()); }

std::wstring ProgramDir()
{
    wchar_t path[MAX_PATH * 4];
    const DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
    std::wstring full(path, n);
    return full.substr(0, full.find_last_of(L"\\/") + 1);
}

std::string Narrow(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(n, '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

std::wstring Widen(const std::string& text)
{
    if (text.empty())
        return std::wstring();
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(n, L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n);
    return out;
}

} // namespace harness
