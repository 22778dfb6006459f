// TVN Properties.exe: the settings dialog of Tolvane.
#include <windows.h>

#include "program.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    return tvn::RunPropertiesProgram(instance, showCommand);
}
