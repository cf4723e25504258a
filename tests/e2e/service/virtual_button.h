#pragma once
// The virtual red button as a test program drives it (tools/virtual_button):
// the button is held while the file "pressed" exists in the state folder,
// and the library notes a raised DTR as the file "dtr".

#include <windows.h>

#include <string>

namespace krvn_e2e {

class VirtualButton {
public:
    // The COM port behind which the button sits ("COM7"), from the fixture.
    static std::wstring Port();

    static bool Press();
    static bool Release();
    // Pressed, held long enough for a waiting watcher to see it, released:
    // two changes of DSR, so two presses for the service.
    static bool Click();

    // Takes the button's port away (its pty and COM link go, as an adapter
    // that is unplugged) and brings it back on the same COM port.
    static bool Unplug();
    static bool PlugIn();

    // Forgets that DTR was raised, so that the next watcher to raise it shows.
    static void ForgetDtr();
    // Waits until a watcher holds the port with DTR raised.
    static bool WaitForDtr(DWORD timeoutMs);
};

} // namespace krvn_e2e
