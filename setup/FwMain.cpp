// Program entry: runs the application object's start-up hook.
#include "FwDialog.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    FwWinApp* app = FwGetApp();
    return app ? app->Run(instance) : 1;
}
