#pragma once
// Who made the client call this thread serves, as the event log names it:
// the account from the caller's token (read while impersonating it) and the
// program from its process. Outside a client call, the service's own code
// is the caller: this process and its account.

#include <windows.h>

#include <string>

struct ClientCaller {
    // "DOMAIN\user", or the SID's text when the account has no name; empty
    // when unknown.
    std::wstring account;
    // The program's file name ("Alarm.exe"); empty when unknown.
    std::wstring program;
    // 0 when unknown.
    DWORD processId = 0;

    // The tray program is the desktop client; any other caller is a script
    // or a program of someone's own.
    bool IsTrayProgram() const;
    // The account, or "an unknown account".
    std::wstring AccountText() const;
};

ClientCaller DescribeCaller();
