// tr520-updater.exe: the TR-520/521 CPU firmware update utility, a dialog program.
#include <windows.h>

#include "win_updater_app.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    theApp.InitInstance();
    return 0;
}
