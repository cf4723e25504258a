#pragma once
// The red-button port change behind "&Изменить..." of the settings dialog:
// the service is put into test mode (our sink subscribed, presses on its
// port reported instead of alarmed), the test dialog runs, and on
// "&Применить" with another port the service is given that port, which then
// shows in the settings dialog's port field.

#include <windows.h>

class CTrayApp;

void ChangeRedButtonPort(CTrayApp& app, HWND settingsDialog);
