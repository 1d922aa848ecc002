#include "ui/CaptionDrawing.h"

#include "ui/GdiPlusHandles.h"

using namespace Gdiplus;

namespace {

constexpr REAL kCaptionPoints = 11.0f;
constexpr ARGB kCaptionColour = 0xFF666666;

UniqueGpFontFamily GenericFamily(const CaptionFonts& fonts)
{
    GpFontFamily* family = nullptr;
    if (fonts.genericSansSerif)
        fonts.genericSansSerif(&family);
    return UniqueGpFontFamily(family);
}

UniqueGpFont CreateCaptionFont(const CaptionFonts& fonts, REAL points)
{
    GpFontFamily* named = nullptr;
    GdipCreateFontFamilyFromName(fonts.family, nullptr, &named);
    UniqueGpFontFamily family(named);
    if (!family)
        family = GenericFamily(fonts);

    GpFont* font = nullptr;
    if (family)
        GdipCreateFont(family.get(), points, FontStyleRegular, UnitPoint, &font);
    if (!font) {
        // A family that exists but gives no font: the generic one, once more.
        UniqueGpFontFamily generic = GenericFamily(fonts);
        if (generic)
            GdipCreateFont(generic.get(), points, FontStyleRegular, UnitPoint, &font);
    }
    return UniqueGpFont(font);
}

} // namespace

CaptionFonts DefaultCaptionFonts()
{
    return {L"Arial", GdipGetGenericFontFamilySansSerif.Bound()};
}

REAL CaptionPoints(UINT dpi, REAL graphicsDpi)
{
    if (graphicsDpi <= 0.0f)
        return kCaptionPoints;
    return kCaptionPoints * static_cast<REAL>(dpi) / graphicsDpi;
}

PointF CaptionOrigin(int clientWidth, int clientHeight, REAL w, REAL h)
{
    return PointF(static_cast<REAL>(clientWidth / 2) - w * 0.5f, static_cast<REAL>(clientHeight / 3) - h * 0.5f);
}

bool DrawCaption(GpGraphics* graphics, const wchar_t* text, HWND window, UINT dpi, const CaptionFonts& fonts)
{
    if (!text)
        return false;
    GdipSetSmoothingMode(graphics, SmoothingModeAntiAlias);
    GdipSetTextRenderingHint(graphics, TextRenderingHintAntiAlias);

    REAL graphicsDpi = 0.0f;
    GdipGetDpiY(graphics, &graphicsDpi);
    UniqueGpFont font = CreateCaptionFont(fonts, CaptionPoints(dpi, graphicsDpi));
    if (!font)
        return false;
    GpStringFormat* createdFormat = nullptr;
    GdipCreateStringFormat(0, LANG_NEUTRAL, &createdFormat);
    UniqueGpStringFormat format(createdFormat);
    GpSolidFill* createdBrush = nullptr;
    GdipCreateSolidFill(kCaptionColour, &createdBrush);
    UniqueGpBrush brush(createdBrush);
    if (!format || !brush)
        return false;
    GdipSetStringFormatAlign(format.get(), StringAlignmentNear);

    RECT client = {};
    ::GetClientRect(window, &client);
    RectF unlimited(0.0f, 0.0f, 0.0f, 0.0f);
    RectF box(0.0f, 0.0f, 0.0f, 0.0f);
    if (GdipMeasureString(graphics, text, static_cast<INT>(::lstrlenW(text)), font.get(), &unlimited,
                          format.get(), &box, nullptr, nullptr) != Ok)
        return false;

    PointF origin = CaptionOrigin(client.right - client.left, client.bottom - client.top, box.Width, box.Height);
    RectF layout(origin.X, origin.Y, box.Width, box.Height);
    return GdipDrawString(graphics, text, -1, font.get(), &layout, format.get(), brush.get()) == Ok;
}
