// The start-up floor: a GUI program with the updater's manifest that ends at
// once, importing nothing but what every program imports.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    return 0;
}
