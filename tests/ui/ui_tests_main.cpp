// The window tests' program: GDI+ runs for the whole program, as in the loader.

#define DOCTEST_CONFIG_IMPLEMENT
#include <doctest.h>

#include "ui/GdiPlusSession.h"

int main(int argc, char** argv)
{
    GdiPlusSession gdiPlus;
    doctest::Context context(argc, argv);
    return context.run();
}
