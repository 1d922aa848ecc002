#include "ui/MemoryCanvas.h"

void MemoryCanvas::Deselect() noexcept
{
    if (dc && previous)
        ::SelectObject(dc.get(), previous);
    previous = nullptr;
}

bool MemoryCanvas::Ensure(int wanted, int wantedHeight)
{
    if (wanted <= 0 || wantedHeight <= 0)
        return false;
    if (dc && wanted <= width && wantedHeight <= height)
        return true;
    const int newWidth = wanted > width ? wanted : width;
    const int newHeight = wantedHeight > height ? wantedHeight : height;

    // The screen's format, as the controls' own buffers and a fresh
    // compatible bitmap of a paint DC have it.
    WindowDc screen(nullptr);
    if (!screen.get())
        return false;
    UniqueBitmap grown(::CreateCompatibleBitmap(screen.get(), newWidth, newHeight));
    if (!grown)
        return false;
    if (!dc) {
        UniqueMemoryDc memory(::CreateCompatibleDC(screen.get()));
        if (!memory)
            return false;
        HGDIOBJ replaced = ::SelectObject(memory.get(), grown.get());
        if (!replaced || replaced == HGDI_ERROR)
            return false;
        dc = std::move(memory);
        previous = replaced;
    } else if (!::SelectObject(dc.get(), grown.get())) {
        return false;
    }
    bitmap = std::move(grown); // the old bitmap is out of the DC now
    width = newWidth;
    height = newHeight;
    return true;
}
