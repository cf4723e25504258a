#pragma once
// Driving the program's modal windows from a helper thread: the test's own
// thread runs the modal code (a dialog, a message box), the helper finds the
// windows, reads their controls and presses their buttons through messages.

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace ui {

constexpr DWORD kWaitMs = 5000;

// The visible dialog-class windows of the thread with this caption
// (message boxes and our dialogs alike).
std::vector<HWND> Dialogs(DWORD thread, const std::wstring& caption);

// Waits for a dialog with this caption that has (or, for message boxes, has
// not) control `marker`; null after the time-out.
HWND WaitForDialog(DWORD thread, const std::wstring& caption, int marker,
                   DWORD timeoutMs = kWaitMs);
// A message box of the program ("Quendor Alarm", no settings list in it).
HWND WaitForMessageBox(DWORD thread, DWORD timeoutMs = kWaitMs);
// For checking that nothing appears.
constexpr DWORD kShortWaitMs = 400;
// Waits until the window is gone; false after the time-out.
bool WaitUntilGone(HWND window);

std::wstring MessageBoxText(HWND box);
std::wstring Text(HWND dialog, int id);
void SetText(HWND dialog, int id, const std::wstring& text);
// Posts the button's click (so that a modal window it opens does not block us).
void Click(HWND dialog, int id);
// Reads a message box, presses `button` and waits for the box to go.
std::wstring Answer(DWORD thread, int button);
// The control with the keyboard focus in the thread.
HWND FocusOf(DWORD thread);
// Polls `condition` up to the time-out.
bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs = kWaitMs);

std::wstring ListText(HWND list, int row, int column);
int ListImage(HWND list, int row);
int ListSelection(HWND list);
int ListCount(HWND list);
std::vector<std::wstring> ListBoxLines(HWND list);

// A Linux path as Wine's drive Z: shows it.
std::wstring WindowsPath(const char* path);

// Saves the screen area of the window as a BMP in the test output folder.
void SaveScreenshot(HWND window, const std::wstring& name);

// Runs `script` on a helper thread (given this thread's id) while `modal`
// runs here. Whatever the script leaves open is cancelled afterwards, so a
// failing script cannot hang the test.
void RunModal(const std::function<void(DWORD thread)>& script, const std::function<void()>& modal);

} // namespace ui
