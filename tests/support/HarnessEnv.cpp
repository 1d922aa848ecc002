#include "tests/support/HarnessEnv.h"

#include <vector>

namespace harness {

WideString Env(const wchar_t* name)
{
    std::vector<wchar_t> buffer(32768);
    const DWORD n = ::GetEnvironmentVariableW(name, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0 || n >= buffer.size())
        return WideString();
    return WideString(buffer.data(), n);
}

int NginxPort() { return _wtoi(Env(L"KOVRA_NGINX_PORT").c_str()); }
int ScriptedPort() { return _wtoi(Env(L"KOVRA_SCRIPTED_PORT").c_str()); }
WideString Dir() { return Env(L"KOVRA_HARNESS_DIR_WIN"); }
WideString ScriptedRoot() { return Dir() + L"\\www\\scripted\\"; }
WideString DownloadRoot() { return Dir() + L"\\www\\download\\"; }
WideString ScriptedBase() { return L"http://127.0.0.1:" + WideString(std::to_wstring(ScriptedPort()).c_str()); }

WideString ProgramDir()
{
    wchar_t path[MAX_PATH * 4];
    const DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
    WideString full(path, n);
    return full.substr(0, full.find_last_of(L"\\/") + 1);
}

std::string Narrow(const WideString& text)
{
    if (text.empty())
        return std::string();
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(n, '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

WideString Widen(const std::string& text)
{
    if (text.empty())
        return WideString();
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    WideString out(n, L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n);
    return out;
}

} // namespace harness
