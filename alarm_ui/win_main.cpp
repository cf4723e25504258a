#include <windows.h>

#include "alarm_ui/alarm_program.h"

// The command line and the show flag are not used.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    return RunAlarmProgram();
}
