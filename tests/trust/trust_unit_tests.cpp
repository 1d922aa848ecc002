// The publisher pin's text form, and DLLs loaded from the system folder.

#define DOCTEST_CONFIG_IMPLEMENT_WITH_MAIN
#include <doctest.h>

#include "app/PublisherKeyPin.h"
#include "app/SystemDllSearch.h"

#include <windows.h>

#include <cstring>
#include <cwctype>
#include <string>

namespace {

using State = PublisherKeyPin::State;

const char* const kPinText = "47b8a161bb60bfbbbcb4daa5d948f1d0f12fd5843b8a78ad9ecd8beda0fa337d";
const uint8_t kPinBytes[32] = {0x47, 0xb8, 0xa1, 0x61, 0xbb, 0x60, 0xbf, 0xbb, 0xbc, 0xb4, 0xda,
                               0xa5, 0xd9, 0x48, 0xf1, 0xd0, 0xf1, 0x2f, 0xd5, 0x84, 0x3b, 0x8a,
                               0x78, 0xad, 0x9e, 0xcd, 0x8b, 0xed, 0xa0, 0xfa, 0x33, 0x7d};

WideString Lower(WideString text)
{
    for (wchar_t& c : text)
        c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

// A DLL loaded by its name came from the system folder.
void CheckFromSystemFolder(const wchar_t* name, HMODULE module)
{
    CAPTURE(std::string(name, name + std::wcslen(name)));
    REQUIRE(module != nullptr);
    wchar_t folder[MAX_PATH];
    const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
    REQUIRE(length > 0);
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(module, path, MAX_PATH);
    CHECK(Lower(path) == Lower(WideString(folder, length)) + L"\\" + name);
}

} // namespace

TEST_SUITE("pin")
{
    TEST_CASE("64 hex digits in either case pin a key")
    {
        for (const char* text : {kPinText, "47B8A161BB60BFBBBCB4DAA5D948F1D0F12FD5843B8A78AD9ECD8BEDA0FA337D"}) {
            CAPTURE(text);
            const PublisherKeyPin pin = ParsePublisherKeyPin(text);
            REQUIRE(pin.state == State::Key);
            CHECK(std::memcmp(pin.keySha256, kPinBytes, 32) == 0);
        }
    }

    TEST_CASE("no text pins nothing")
    {
        CHECK(ParsePublisherKeyPin("").state == State::None);
        CHECK(ParsePublisherKeyPin(nullptr).state == State::None);
    }

    TEST_CASE("anything else is malformed")
    {
        const std::string good = kPinText;
        const std::string rows[] = {
            good.substr(0, 63),       // one digit short
            good + "0",               // one too many
            good.substr(0, 62) + "g", // not a digit
            good.substr(0, 62) + " 7",
            " " + good.substr(1),
            good.substr(0, 32) + ":" + good.substr(33),
            "0x" + good.substr(2),
            "-",
        };
        for (const std::string& row : rows) {
            CAPTURE(row);
            CHECK(ParsePublisherKeyPin(row.c_str()).state == State::Malformed);
        }
    }

    TEST_CASE("only the pinned key matches")
    {
        const PublisherKeyPin pin = ParsePublisherKeyPin(kPinText);
        uint8_t key[32];
        std::memcpy(key, kPinBytes, 32);
        CHECK(KeyMatchesPin(key, pin));
        for (size_t i : {size_t(0), size_t(17), size_t(31)}) {
            CAPTURE(i);
            key[i] ^= 0x01;
            CHECK_FALSE(KeyMatchesPin(key, pin));
            key[i] ^= 0x01;
        }
        // A malformed pin matches nothing, not even its own parsed prefix.
        PublisherKeyPin broken = ParsePublisherKeyPin((std::string(kPinText) + "0").c_str());
        std::memcpy(broken.keySha256, kPinBytes, 32);
        CHECK_FALSE(KeyMatchesPin(key, broken));
        CHECK_FALSE(KeyMatchesPin(key, ParsePublisherKeyPin("")));
    }
}

TEST_SUITE("dll-search")
{
    // Changes the process's DLL search for good: a suite of its own, run in
    // a process of its own.
    TEST_CASE("after the restriction a DLL beside the program is not found, system DLLs are")
    {
        // plant.dll (built beside this program) is found by its bare name
        // as long as the program's folder is searched.
        HMODULE before = ::LoadLibraryExW(L"plant.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE);
        REQUIRE(before != nullptr);
        ::FreeLibrary(before);

        RestrictDllSearchToSystem();
        CHECK(::LoadLibraryW(L"plant.dll") == nullptr);

        for (const wchar_t* name : {L"wininet.dll", L"gdiplus.dll"})
            CheckFromSystemFolder(name, ::LoadLibraryW(name));
    }

    TEST_CASE("a system DLL by its full path")
    {
        for (const wchar_t* name : {L"crypt32.dll", L"wintrust.dll"})
            CheckFromSystemFolder(name, LoadSystemDll(name));
        CHECK(LoadSystemDll(L"plant.dll") == nullptr);
    }
}
