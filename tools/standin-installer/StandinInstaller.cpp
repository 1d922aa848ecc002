// A stand-in for the browser installer, for tests and the demo. It records
// how it was started, waits a while and exits with a chosen code:
//   KOVRA_STANDIN_RECORD   file to append the record to (default: none)
//   KOVRA_STANDIN_SECONDS  seconds to run (default 0)
//   KOVRA_STANDIN_UNTIL    a file: it ends as soon as that file exists, so a
//                          test runs it only as long as it looks at it
//   KOVRA_STANDIN_EXIT     exit code (default 0)
// The record is one "key=value" line each: exe, sha256 (of the running file),
// cmdline, cwd, show, then "end".

#include "common/UniqueHandle.h"

#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

std::wstring Variable(const wchar_t* name)
{
    wchar_t value[2048];
    const DWORD length = ::GetEnvironmentVariableW(name, value, 2048);
    return length && length < 2048 ? std::wstring(value, length) : std::wstring();
}

void Append(FILE* file, const wchar_t* key, const std::wstring& value)
{
    // UTF-8, so the test reads Cyrillic folder names back as they are.
    const std::wstring line = std::wstring(key) + L"=" + value + L"\n";
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(bytes), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), &utf8[0], bytes, nullptr, nullptr);
    std::fwrite(utf8.data(), 1, utf8.size(), file);
}

// SHA-256 of a file in lower-case hex; empty when it cannot be read.
std::wstring FileSha256(const wchar_t* path)
{
    UniqueFileHandle file(::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr));
    HCRYPTPROV provider = 0;
    if (!file || !::CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT))
        return std::wstring();
    std::wstring hex;
    HCRYPTHASH hash = 0;
    if (::CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash)) {
        static BYTE buffer[65536];
        DWORD read = 0;
        bool ok = true;
        while (ok && ::ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr) && read > 0)
            ok = ::CryptHashData(hash, buffer, read, 0) != FALSE;
        BYTE digest[32];
        DWORD size = sizeof digest;
        if (ok && ::CryptGetHashParam(hash, HP_HASHVAL, digest, &size, 0)) {
            for (DWORD i = 0; i < size; ++i) {
                wchar_t pair[3];
                std::swprintf(pair, 3, L"%02x", digest[i]);
                hex += pair;
            }
        }
        ::CryptDestroyHash(hash);
    }
    ::CryptReleaseContext(provider, 0);
    return hex;
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    const std::wstring record = Variable(L"KOVRA_STANDIN_RECORD");
    if (!record.empty()) {
        if (FILE* file = _wfopen(record.c_str(), L"ab")) {
            wchar_t path[MAX_PATH * 2] = {};
            ::GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
            wchar_t directory[MAX_PATH * 2] = {};
            ::GetCurrentDirectoryW(MAX_PATH * 2, directory);
            STARTUPINFOW startup{};
            startup.cb = sizeof startup;
            ::GetStartupInfoW(&startup);
            Append(file, L"exe", path);
            Append(file, L"sha256", FileSha256(path));
            Append(file, L"cmdline", ::GetCommandLineW());
            Append(file, L"cwd", directory);
            Append(file, L"show", (startup.dwFlags & STARTF_USESHOWWINDOW) ? std::to_wstring(startup.wShowWindow) : L"default");
            Append(file, L"end", L"");
            std::fclose(file);
        }
    }
    const DWORD ms = static_cast<DWORD>(_wtoi(Variable(L"KOVRA_STANDIN_SECONDS").c_str())) * 1000;
    const std::wstring until = Variable(L"KOVRA_STANDIN_UNTIL");
    for (const ULONGLONG end = ::GetTickCount64() + ms; ::GetTickCount64() < end; ::Sleep(20)) {
        if (!until.empty() && ::GetFileAttributesW(until.c_str()) != INVALID_FILE_ATTRIBUTES)
            break;
    }
    return _wtoi(Variable(L"KOVRA_STANDIN_EXIT").c_str());
}
