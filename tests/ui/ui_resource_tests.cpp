// The resources linked into this program, read back through the platform:
// the dialog template, the skin pictures decoded by GDI+, the icon group, the
// version resource and the manifest.

#include <doctest.h>

#include "KovraVersion.h"
#include "common/UniqueHandle.h"
#include "res/ResourceIds.h"
#include "ui/GdiPlusHandles.h"
#include "ui/SkinFrame.h"
#include "ui/SkinImage.h"

#include <commctrl.h>

#include <cstring>
#include <string>
#include <vector>

using namespace Gdiplus;

namespace {

const WORD kRussian = MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT); // 1049

std::vector<BYTE> ResourceBytes(LPCWSTR type, UINT id, WORD language)
{
    std::vector<BYTE> bytes;
    HRSRC found = ::FindResourceExW(nullptr, type, MAKEINTRESOURCEW(id), language);
    if (!found)
        return bytes;
    HGLOBAL loaded = ::LoadResource(nullptr, found);
    const BYTE* data = loaded ? static_cast<const BYTE*>(::LockResource(loaded)) : nullptr;
    DWORD size = ::SizeofResource(nullptr, found);
    if (data)
        bytes.assign(data, data + size);
    return bytes;
}

// Reads a DLGTEMPLATEEX.
class TemplateReader {
public:
    explicit TemplateReader(const std::vector<BYTE>& bytes) : bytes_(bytes) {}
    bool Ok() const { return ok_; }
    template <typename T>
    T Read()
    {
        T value = 0;
        Take(&value, sizeof(value));
        return value;
    }
    WORD Word() { return Read<WORD>(); }
    DWORD Dword() { return Read<DWORD>(); }
    short Short() { return Read<short>(); }
    BYTE Byte() { return Read<BYTE>(); }
    WideString String()
    {
        WideString text;
        for (WORD c = Word(); ok_ && c != 0; c = Word())
            text.push_back(static_cast<wchar_t>(c));
        return text;
    }
    // A name or an ordinal: ordinal 0 and empty text when there is none.
    void NameOrOrdinal(WORD& ordinal, WideString& name)
    {
        ordinal = 0;
        name.clear();
        WORD first = Word();
        if (first == 0)
            return;
        if (first == 0xFFFF) {
            ordinal = Word();
            return;
        }
        name.push_back(static_cast<wchar_t>(first));
        name += String();
    }
    void AlignDword() { offset_ = (offset_ + 3) & ~static_cast<size_t>(3); }
    void Skip(size_t count) { offset_ += count; }

private:
    void Take(void* out, size_t count)
    {
        if (offset_ + count > bytes_.size()) {
            ok_ = false;
            return;
        }
        std::memcpy(out, bytes_.data() + offset_, count);
        offset_ += count;
    }
    const std::vector<BYTE>& bytes_;
    size_t offset_ = 0;
    bool ok_ = true;
};

struct Item {
    DWORD exStyle, style;
    short x, y, cx, cy;
    DWORD id;
    WORD classOrdinal;
    WideString className;
    WideString title;
};

std::string AsciiOf(const WideString& text)
{
    std::string narrow;
    for (wchar_t c : text)
        narrow.push_back(c < 128 ? static_cast<char>(c) : '?');
    return narrow;
}

WideString Lower(WideString text)
{
    for (wchar_t& c : text)
        c = static_cast<wchar_t>(::towlower(c));
    return text;
}

WideString VersionString(const std::vector<BYTE>& info, const wchar_t* name)
{
    WideString path = WideString(L"\\StringFileInfo\\041904B0\\") + name;
    void* value = nullptr;
    UINT length = 0;
    if (!::VerQueryValueW(info.data(), path.c_str(), &value, &length) || !value)
        return L"<missing>";
    return WideString(static_cast<const wchar_t*>(value));
}

std::uint32_t DrawnPixel(const SkinImage& image, const RECT& rect, int x, int y)
{
    SkinFrame canvas;
    REQUIRE(canvas.Create(16, 16));
    // An opaque white canvas under the glyph.
    UniqueBrush white(::CreateSolidBrush(RGB(255, 255, 255)));
    RECT all = {0, 0, 16, 16};
    ::FillRect(canvas.Dc(), &all, white.get());
    REQUIRE(image.Draw(canvas.Dc(), rect));
    ::GdiFlush();
    return canvas.Pixel(x, y) & 0xFFFFFF;
}

} // namespace

TEST_SUITE("resources") {

TEST_CASE("dialog template 130 is the skinned popup with its three items")
{
    std::vector<BYTE> bytes = ResourceBytes(RT_DIALOG, IDD_KOVRA_LOADER, kRussian);
    REQUIRE(!bytes.empty());
    TemplateReader reader(bytes);
    CHECK(reader.Word() == 1);      // dlgVer
    CHECK(reader.Word() == 0xFFFF); // extended template
    reader.Dword();                 // help id
    CHECK(reader.Dword() == static_cast<DWORD>(WS_EX_TOPMOST | WS_EX_LAYERED | WS_EX_APPWINDOW));
    const DWORD style = reader.Dword();
    CHECK(style == static_cast<DWORD>(WS_POPUP | WS_VISIBLE | WS_SYSMENU | DS_SETFONT));
    const WORD count = reader.Word();
    CHECK(count == 3);
    CHECK(reader.Short() == 0);
    CHECK(reader.Short() == 0);
    CHECK(reader.Short() == 330);
    CHECK(reader.Short() == 186);
    WORD ordinal = 0;
    WideString name;
    reader.NameOrOrdinal(ordinal, name); // menu
    CHECK((ordinal == 0 && name.empty()));
    reader.NameOrOrdinal(ordinal, name); // class
    CHECK((ordinal == 0 && name.empty()));
    CHECK(reader.String().empty()); // title
    CHECK(reader.Word() == 8);      // points
    reader.Word();                  // weight
    reader.Byte();                  // italic
    reader.Byte();                  // charset
    CHECK(reader.String() == L"MS Sans Serif");

    std::vector<Item> items;
    for (WORD i = 0; i < count && reader.Ok(); ++i) {
        reader.AlignDword();
        Item item = {};
        reader.Dword(); // help id
        item.exStyle = reader.Dword();
        item.style = reader.Dword();
        item.x = reader.Short();
        item.y = reader.Short();
        item.cx = reader.Short();
        item.cy = reader.Short();
        item.id = reader.Dword();
        reader.NameOrOrdinal(item.classOrdinal, item.className);
        WORD titleOrdinal = 0;
        reader.NameOrOrdinal(titleOrdinal, item.title);
        reader.Skip(reader.Word()); // creation data
        items.push_back(item);
    }
    REQUIRE(reader.Ok());
    REQUIRE(items.size() == 3);

    const DWORD buttonStyle = WS_CHILD | WS_VISIBLE | BS_OWNERDRAW;
    // The buttons' texts are never drawn: they are what screen readers call them.
    const struct {
        DWORD id, style;
        short x, y, cx, cy;
        const wchar_t* title;
    } expected[3] = {{1016, buttonStyle, 296, 10, 11, 10, L"Свернуть"},
                     {1017, buttonStyle, 314, 10, 11, 10, L"Закрыть"},
                     {1009, WS_CHILD | WS_VISIBLE, 23, 74, 287, 6, L""}};
    for (int i = 0; i < 3; ++i) {
        CAPTURE(i);
        CHECK(items[i].id == expected[i].id);
        CHECK(items[i].style == expected[i].style);
        CHECK(items[i].exStyle == 0);
        CHECK(items[i].x == expected[i].x);
        CHECK(items[i].y == expected[i].y);
        CHECK(items[i].cx == expected[i].cx);
        CHECK(items[i].cy == expected[i].cy);
        CHECK(items[i].title == expected[i].title);
    }
    // The button class as its predefined atom or by name; the bar by name.
    CHECK((items[0].classOrdinal == 0x0080 || Lower(items[0].className) == L"button"));
    CHECK((items[1].classOrdinal == 0x0080 || Lower(items[1].className) == L"button"));
    CHECK(Lower(items[2].className) == L"msctls_progress32");
}

TEST_CASE("the skin pictures are Russian-language PNG resources of their sizes")
{
    // The 2x set is the 1x ids + 1000 (the program finds it that way); where
    // it is smaller, a picture of it is indexed (colour type 3), which
    // decodes to the same pixels.
    const UINT x2 = IDP_DOUBLE_SIZE_OFFSET;
    const struct {
        UINT id;
        LONG width, height;
        BYTE colourType;
    } pictures[] = {{IDP_BACKGROUND, 513, 264, 6},           {IDP_STRIPE_TILE, 29, 9, 6},
                    {IDP_CLOSE_NORMAL, 9, 9, 6},             {IDP_CLOSE_PRESSED, 9, 9, 6},
                    {IDP_CLOSE_HOVER, 9, 9, 6},              {IDP_MINIMISE_NORMAL, 10, 9, 6},
                    {IDP_MINIMISE_PRESSED, 10, 9, 6},        {IDP_MINIMISE_HOVER, 10, 9, 6},
                    {IDP_BACKGROUND + x2, 1026, 528, 3},     {IDP_STRIPE_TILE + x2, 58, 18, 3},
                    {IDP_CLOSE_NORMAL + x2, 18, 18, 6},      {IDP_CLOSE_PRESSED + x2, 18, 18, 6},
                    {IDP_CLOSE_HOVER + x2, 18, 18, 6},       {IDP_MINIMISE_NORMAL + x2, 20, 18, 6},
                    {IDP_MINIMISE_PRESSED + x2, 20, 18, 6},  {IDP_MINIMISE_HOVER + x2, 20, 18, 6}};
    for (const auto& picture : pictures) {
        CAPTURE(picture.id);
        std::vector<BYTE> bytes = ResourceBytes(L"PNG", picture.id, kRussian);
        REQUIRE(bytes.size() > 8);
        CHECK(std::memcmp(bytes.data(), "\x89PNG\r\n\x1a\n", 8) == 0);
        CHECK(bytes[25] == picture.colourType); // 6: RGBA
        SkinImage image;
        image.LoadFromResource(nullptr, picture.id, L"PNG");
        SIZE size = image.Size();
        CHECK(size.cx == picture.width);
        CHECK(size.cy == picture.height);
    }
}

TEST_CASE("a missing picture leaves the image as it was")
{
    SkinImage image;
    image.LoadFromResource(nullptr, 999, L"PNG");
    CHECK(image.Empty());
    CHECK(image.Size().cx == 0);
    CHECK(image.Size().cy == 0);
    SkinFrame canvas;
    REQUIRE(canvas.Create(4, 4));
    CHECK_FALSE(image.Draw(canvas.Dc(), RECT{0, 0, 4, 4}));

    image.LoadFromResource(nullptr, IDP_STRIPE_TILE, L"PNG");
    image.LoadFromResource(nullptr, 999, L"PNG");
    CHECK(image.Size().cx == 29);
}

TEST_CASE("glyphs decode to their colours and scale into a smaller button")
{
    // The close and minimise glyphs of each look, and its colour.
    const struct {
        UINT cross, bar;
        std::uint32_t colour;
    } looks[] = {{IDP_CLOSE_NORMAL, IDP_MINIMISE_NORMAL, 0x666666},
                 {IDP_CLOSE_HOVER, IDP_MINIMISE_HOVER, 0x444444},
                 {IDP_CLOSE_PRESSED, IDP_MINIMISE_PRESSED, 0x000000}};
    for (const auto& look : looks) {
        CAPTURE(look.colour);
        SkinImage cross, bar;
        cross.LoadFromResource(nullptr, look.cross, L"PNG");
        bar.LoadFromResource(nullptr, look.bar, L"PNG");
        // The centre of the cross is fully covered; its corners' middles are not.
        CHECK(DrawnPixel(cross, RECT{0, 0, 9, 9}, 4, 4) == look.colour);
        CHECK(DrawnPixel(cross, RECT{0, 0, 9, 9}, 4, 0) == 0xFFFFFF);
        CHECK(DrawnPixel(cross, RECT{0, 0, 9, 9}, 0, 4) == 0xFFFFFF);
        // 10 x 9 drawn into 9 x 9: the two bottom rows stay solid.
        CHECK(DrawnPixel(bar, RECT{0, 0, 9, 9}, 4, 8) == look.colour);
        CHECK(DrawnPixel(bar, RECT{0, 0, 9, 9}, 4, 7) == look.colour);
        CHECK(DrawnPixel(bar, RECT{0, 0, 9, 9}, 4, 3) == 0xFFFFFF);
        CHECK(DrawnPixel(bar, RECT{0, 0, 9, 9}, 9, 8) == 0xFFFFFF); // nothing past 9 columns
    }
}

TEST_CASE("the memory stream goes with the picture decoded from it")
{
    SkinImage image;
    image.LoadFromResource(nullptr, IDP_BACKGROUND, L"PNG");
    IStream* first = image.Stream();
    REQUIRE(first != nullptr);
    first->AddRef();
    image.LoadFromResource(nullptr, IDP_STRIPE_TILE, L"PNG");
    CHECK(first->Release() == 0); // ours was the last reference

    IStream* second = image.Stream();
    REQUIRE(second != nullptr);
    second->AddRef();
    {
        SkinImage moved = std::move(image); // the picture and its stream travel together
        CHECK(image.Empty());
        CHECK(image.Stream() == nullptr);
        CHECK(moved.Size().cx == 29);
    }
    CHECK(second->Release() == 0);
}

TEST_CASE("icon group 128 has 16, 32, 48 and 256 pixel images")
{
    std::vector<BYTE> group = ResourceBytes(RT_GROUP_ICON, IDI_KOVRA, kRussian);
    REQUIRE(group.size() >= 6);
    WORD count = 0;
    std::memcpy(&count, group.data() + 4, 2);
    REQUIRE(count == 4);
    REQUIRE(group.size() >= 6u + 14u * count);
    std::vector<int> sizes;
    for (WORD i = 0; i < count; ++i) {
        const BYTE width = group[6 + 14 * i];
        sizes.push_back(width == 0 ? 256 : width);
    }
    CHECK(sizes == std::vector<int>{16, 32, 48, 256});

    for (int size : {16, 32, 48, 256}) {
        CAPTURE(size);
        UniqueIcon icon(static_cast<HICON>(
            ::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_KOVRA), IMAGE_ICON, size, size, 0)));
        REQUIRE(icon);
        ICONINFO info = {};
        REQUIRE(::GetIconInfo(icon.get(), &info));
        UniqueBitmap colour(info.hbmColor);
        UniqueBitmap mask(info.hbmMask);
        BITMAP bitmap = {};
        REQUIRE(::GetObjectW(colour.get(), sizeof(bitmap), &bitmap));
        CHECK(bitmap.bmWidth == size);
        CHECK(bitmap.bmHeight == size);
    }
}

TEST_CASE("the version resource names Velmora, Kovra and the project's version")
{
    wchar_t path[MAX_PATH];
    REQUIRE(::GetModuleFileNameW(nullptr, path, MAX_PATH));
    DWORD handle = 0;
    DWORD size = ::GetFileVersionInfoSizeW(path, &handle);
    REQUIRE(size > 0);
    std::vector<BYTE> info(size);
    REQUIRE(::GetFileVersionInfoW(path, 0, size, info.data()));

    CHECK(VersionString(info, L"CompanyName") == L"Velmora");
    CHECK(VersionString(info, L"ProductName") == L"Kovra");
    CHECK(VersionString(info, L"FileDescription") == L"Установщик браузера Kovra");
    CHECK(VersionString(info, L"FileVersion") == WideString(L"" KOVRA_VERSION_STRING_W));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    REQUIRE(::VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    REQUIRE(fixed != nullptr);
    CHECK(fixed->dwSignature == 0xFEEF04BD);
    CHECK(HIWORD(fixed->dwFileVersionMS) == KOVRA_VERSION_MAJOR);
    CHECK(LOWORD(fixed->dwFileVersionMS) == KOVRA_VERSION_MINOR);
    CHECK(HIWORD(fixed->dwFileVersionLS) == KOVRA_VERSION_PATCH);
}

TEST_CASE("the manifest asks for the caller's level and common controls 6, and gets them")
{
    const std::vector<BYTE> bytes = ResourceBytes(RT_MANIFEST, 1, MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
    REQUIRE(!bytes.empty());
    const std::string manifest(bytes.begin(), bytes.end());
    CHECK(manifest.find("level=\"asInvoker\"") != std::string::npos);
    CHECK(manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"") != std::string::npos);
    // Drawn by the program at its monitor's DPI, never stretched by Windows,
    // and not taken for a program older than Windows 7 to 10.
    CHECK(manifest.find("SMI/2016/WindowsSettings\">PerMonitorV2, PerMonitor</dpiAwareness>") != std::string::npos);
    CHECK(manifest.find("SMI/2005/WindowsSettings\">true/pm</dpiAware>") != std::string::npos);
    CHECK(manifest.find("<supportedOS Id=\"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}\"/>") != std::string::npos); // 7
    CHECK(manifest.find("<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>") != std::string::npos); // 10, 11

    // The process runs with it: comctl32 is redirected to the side-by-side
    // common controls 6 assembly. (Wine's build of it reports 5 from
    // DllGetVersion, so the assembly is what tells.)
    ACTCTX_SECTION_KEYED_DATA redirect = {};
    redirect.cbSize = sizeof(redirect);
    CHECK(::FindActCtxSectionStringW(0, nullptr, ACTIVATION_CONTEXT_SECTION_DLL_REDIRECTION, L"comctl32.dll",
                                     &redirect));
    HMODULE comctl = ::GetModuleHandleW(L"comctl32.dll");
    REQUIRE(comctl);
    wchar_t path[MAX_PATH] = L"";
    REQUIRE(::GetModuleFileNameW(comctl, path, MAX_PATH));
    WideString lower = Lower(path);
    CAPTURE(AsciiOf(lower));
    CHECK(lower.find(L"common-controls_6595b64144ccf1df_6.") != WideString::npos);
}

} // TEST_SUITE
