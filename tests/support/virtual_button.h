#pragma once
// The virtual red button as a test program drives it (tools/virtual_button):
// the button is held while the file "pressed" exists in the state folder,
// and the library notes a raised DTR as the file "dtr". Needs the vbutton
// fixture.

#include <windows.h>

#include <string>

namespace krvn_test {

class VirtualButton {
public:
    // A change held this long is always seen by a pending WaitCommEvent.
    static constexpr DWORD kHoldMs = 50;
    // The watcher raises DTR just before its first wait: time for that wait to begin.
    static constexpr DWORD kSettleMs = 300;

    // The COM port behind which the button sits ("COM7"), from the fixture.
    static std::wstring Port();
    // A file of the state folder, as the prefix sees it.
    static std::wstring StateFile(const wchar_t* name);

    static bool Press();
    static bool Release();
    // Pressed, held, released and held again: two changes of DSR, so two
    // presses for the service.
    static bool Click(DWORD holdMs = kHoldMs);

    // Takes the button's port away (its pty and COM link go, as an adapter
    // that is unplugged) and brings it back on the same COM port.
    static bool Unplug();
    static bool PlugIn();

    // Forgets that DTR was raised, so that the next watcher to raise it shows.
    static bool ForgetDtr();
    static bool DtrRaised();
    // Waits until a watcher holds the port with DTR raised, then gives it
    // settleMs to begin its wait.
    static bool WaitForDtr(DWORD timeoutMs, DWORD settleMs = kSettleMs);
};

} // namespace krvn_test
