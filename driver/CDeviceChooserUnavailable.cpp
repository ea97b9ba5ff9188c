// capdrv without the toolkit (a build without the program): the chooser's window is missing.
#include "CDeviceChooserWindow.h"

#include <cstdio>

int RunDeviceChooser(int, char**)
{
    std::fprintf(stderr, "capdrv: this build has no device chooser window (built without wxWidgets)\n");
    return 1;
}
