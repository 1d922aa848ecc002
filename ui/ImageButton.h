#pragma once
// An owner-drawn push button of the dialog shown as a glyph on the panel
// colour, in a normal, a hover and a pressed look. The platform's own press,
// capture and click behaviour stay; the dialog still gets WM_COMMAND. The
// glyph is drawn into the whole button from the set of pictures nearest its
// size, so a button placed at a scale shows the glyph at that scale.

#include "ui/ScaledPicture.h"
#include "ui/SubclassedControl.h"

enum class GlyphLook { Normal, Hover, Pressed };

// Pressed over hover over normal.
GlyphLook ChooseGlyph(bool selected, bool hover);

class ImageButton : public SubclassedControl {
public:
    // Loads the three looks from the program's "PNG" resources.
    void SetImages(UINT normalId, UINT pressedId, UINT hoverId);
    // {0, 0, width, height} of the normal image (1x, the design's size);
    // empty when it did not load.
    RECT ImageRect() const;

    bool Hover() const { return hover; }
    bool Pressed() const { return pressed; }

protected:
    MessageResult OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    LRESULT Draw(const DRAWITEMSTRUCT& item);
    void OnMouseMove(LPARAM lParam);
    bool ShownPushed() const;
    void Redraw();

    bool hover = false;
    bool pressed = false;
    ScaledPicture normalImage;
    ScaledPicture pressedImage;
    ScaledPicture hoverImage;
};
