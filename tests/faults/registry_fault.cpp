// registry_fault: puts the loader's registry key into hostile states for the
// fault tests, and reports what is there afterwards.
//
//   registry_fault reset                   the key and its parent removed
//   registry_fault volatile-parent         Software\Velmora made volatile: a
//                                          lasting key cannot be created in it
//   registry_fault deny-key                the key exists; writing to it is denied
//   registry_fault deny-parent             the parent exists; creating keys in it is denied
//   registry_fault link                    the key is a link to a place that cannot exist
//   registry_fault set TYPE KIND BYTES     value "GUID" of that type and size; KIND is
//                                          text (UTF-16 "A"s, one NUL at the end when
//                                          the size allows), letters (no NUL at all),
//                                          or zero (all zero bytes)
//   registry_fault show                    "missing CODE" or "type=T bytes=B text=..."
//   registry_fault open                    the code of opening the key as the loader does
//
// Exit code 0 when the step did what it says.

#include "common/UniqueHandle.h"

#include <windows.h>

#include <sddl.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

const wchar_t* const kParent = L"Software\\Velmora";
const wchar_t* const kKey = L"Software\\Velmora\\KovraInstaller";
const REGSAM kLoaderAccess = KEY_READ | KEY_WRITE;

// Lets the owner change the key again, whatever its list says.
bool OpenForDac(const wchar_t* path, UniqueHKey* key)
{
    HKEY handle = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, READ_CONTROL | WRITE_DAC, &handle) != ERROR_SUCCESS)
        return false;
    key->reset(handle);
    return true;
}

bool SetAccess(const wchar_t* path, const wchar_t* sddl)
{
    UniqueHKey key;
    if (!OpenForDac(path, &key))
        return false;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr))
        return false;
    const LONG code = ::RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, descriptor);
    ::LocalFree(descriptor);
    return code == ERROR_SUCCESS;
}

using NtDeleteKeyFn = LONG(WINAPI*)(HANDLE);

// A link key is removed through a handle to the link itself.
void DeleteLink()
{
    HKEY link = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, kKey, REG_OPTION_OPEN_LINK, DELETE | KEY_QUERY_VALUE, &link) !=
        ERROR_SUCCESS)
        return;
    UniqueHKey owned(link);
    auto deleteKey =
        reinterpret_cast<NtDeleteKeyFn>(reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtDeleteKey")));
    if (deleteKey)
        deleteKey(owned.get());
}

int Reset()
{
    // Whatever a test left: open lists first, then the link, then the keys.
    SetAccess(kKey, L"D:(A;OICI;KA;;;WD)");
    SetAccess(kParent, L"D:(A;OICI;KA;;;WD)");
    DeleteLink();
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kParent);
    const LONG code = ::RegDeleteKeyW(HKEY_CURRENT_USER, kParent);
    HKEY probe = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, kParent, 0, KEY_READ, &probe) == ERROR_SUCCESS) {
        ::RegCloseKey(probe);
        std::wprintf(L"reset failed %ld\n", code);
        return 1;
    }
    return 0;
}

int Create(const wchar_t* path, DWORD options)
{
    HKEY key = nullptr;
    const LONG code = ::RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, options, KEY_ALL_ACCESS, nullptr, &key,
                                        nullptr);
    if (code != ERROR_SUCCESS) {
        std::wprintf(L"create failed %ld\n", code);
        return 1;
    }
    ::RegCloseKey(key);
    return 0;
}

int Link()
{
    if (Create(kParent, 0) != 0)
        return 1;
    HKEY key = nullptr;
    LONG code = ::RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, REG_OPTION_CREATE_LINK | REG_OPTION_VOLATILE,
                                  KEY_ALL_ACCESS | KEY_CREATE_LINK, nullptr, &key, nullptr);
    if (code != ERROR_SUCCESS) {
        std::wprintf(L"link failed %ld\n", code);
        return 1;
    }
    UniqueHKey owned(key);
    // No such root exists in the registry: nothing can be opened through it.
    const std::wstring target = L"\\Registry\\Nowhere\\KovraInstaller";
    code = ::RegSetValueExW(owned.get(), L"SymbolicLinkValue", 0, REG_LINK,
                            reinterpret_cast<const BYTE*>(target.data()),
                            static_cast<DWORD>(target.size() * sizeof(wchar_t)));
    if (code != ERROR_SUCCESS) {
        std::wprintf(L"link target failed %ld\n", code);
        return 1;
    }
    return 0;
}

int Set(DWORD type, const wchar_t* kind, DWORD bytes)
{
    if (Create(kKey, 0) != 0)
        return 1;
    // RegSetValueExW reads one character past the data of a string value and
    // stores an extra NUL when it finds one there (Windows does the same):
    // what lies after the buffer must not be zero, or the value would depend
    // on the heap.
    std::vector<BYTE> data(bytes + 2 * sizeof(wchar_t), 'A');
    std::fill(data.begin(), data.begin() + bytes, 0);
    const DWORD units = bytes / 2;
    if (std::wcscmp(kind, L"zero") != 0) {
        for (DWORD i = 0; i < units; ++i)
            data[2 * i] = 'A';
        if (std::wcscmp(kind, L"text") == 0 && units > 0)
            data[2 * (units - 1)] = 0;
    }
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return 1;
    UniqueHKey owned(key);
    const LONG code = ::RegSetValueExW(owned.get(), L"GUID", 0, type, bytes ? data.data() : nullptr, bytes);
    if (code != ERROR_SUCCESS) {
        std::wprintf(L"set failed %ld\n", code);
        return 1;
    }
    return 0;
}

int Show()
{
    HKEY key = nullptr;
    LONG code = ::RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_QUERY_VALUE, &key);
    if (code != ERROR_SUCCESS) {
        std::wprintf(L"missing %ld\n", code);
        return 0;
    }
    UniqueHKey owned(key);
    DWORD type = 0, bytes = 0;
    code = ::RegQueryValueExW(owned.get(), L"GUID", nullptr, &type, nullptr, &bytes);
    if (code != ERROR_SUCCESS) {
        std::wprintf(L"missing %ld\n", code);
        return 0;
    }
    std::vector<wchar_t> text(bytes / sizeof(wchar_t) + 1, L'\0');
    ::RegQueryValueExW(owned.get(), L"GUID", nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &bytes);
    std::wstring shown(text.data(), wcsnlen(text.data(), 100));
    std::wprintf(L"type=%lu bytes=%lu text=%ls\n", type, bytes, shown.c_str());
    return 0;
}

int Open()
{
    HKEY key = nullptr;
    const LONG code = ::RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, kLoaderAccess, nullptr, &key, nullptr);
    UniqueHKey owned(code == ERROR_SUCCESS ? key : nullptr);
    std::wprintf(L"open %ld\n", code);
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const std::wstring command = argc > 1 ? argv[1] : L"";
    if (command == L"reset")
        return Reset();
    if (command == L"volatile-parent")
        return Create(kParent, REG_OPTION_VOLATILE);
    if (command == L"deny-key")
        return Create(kKey, 0) || !SetAccess(kKey, L"D:(D;OICI;0x6;;;WD)(A;OICI;KA;;;WD)");
    if (command == L"deny-parent")
        return Create(kParent, 0) || !SetAccess(kParent, L"D:(D;OICI;0x6;;;WD)(A;OICI;KA;;;WD)");
    if (command == L"link")
        return Link();
    if (command == L"set" && argc == 5)
        return Set(static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 0)), argv[3],
                   static_cast<DWORD>(std::wcstoul(argv[4], nullptr, 0)));
    if (command == L"show")
        return Show();
    if (command == L"open")
        return Open();
    std::fwprintf(stderr, L"usage: registry_fault reset|volatile-parent|deny-key|deny-parent|link|set|show|open\n");
    return 2;
}
