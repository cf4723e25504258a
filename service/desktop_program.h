#pragma once
// The desktop program, as the service sees it: at the service's start the
// close request is made ready, and at its stop every Alarm.exe that lies in
// the service's own folder is asked to close and, should it still run after
// a few seconds, ended. A program of that name anywhere else is not ours and
// is left alone.
//
// The request is a named event in the global namespace (see
// contract/desktop_program.h): it reaches a program in any user's session,
// where a window message from the service's session could not.

#include <windows.h>

#include <string>
#include <vector>

#include "common/unique_handle.h"

class DesktopProgram {
public:
    // How long the programs asked to close have before they are ended.
    static constexpr DWORD kCloseBoundMs = 3000;
    // The exit code of a program that had to be ended.
    static constexpr UINT kEndedExitCode = 0xFFFFFFFF;

    // folder: where our own Alarm.exe lies; by default this program's folder.
    explicit DesktopProgram(std::wstring folder = ProgramFolder());

    // Makes the close request (or finds the one a running program still
    // holds) and clears it. A failure leaves the stop to end the program.
    void PrepareCloseRequest();
    // Asks our programs to close, waits for them up to boundMs, and ends
    // those still running.
    void Close(DWORD boundMs = kCloseBoundMs);

    // The folder of this process's program file, as the system names it.
    static std::wstring ProgramFolder();

private:
    // Our programs, opened to wait for and to end, nothing more.
    std::vector<KRVN::unique_handle> FindOurs() const;

    const std::wstring m_folder;
    KRVN::unique_handle m_closeRequest;
};
