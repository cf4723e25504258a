// An ordinary Wine process that only waits: Wine ends a prefix's services when
// the last ordinary process ends, so whoever needs the service up keeps one
// of these running. Built twice: as keep_alive.exe, and as the stand-in
// Alarm.exe that the service must end when it stops.
//
//   keep_alive [--stop-event NAME] [--lifetime SECONDS]
//
// Ends with 0 when the named event is set or the lifetime has passed
// (default: never), 2 for a bad command line.

#include <windows.h>

#include <cwchar>
#include <string>

#include "common/unique_handle.h"

int wmain(int argc, wchar_t** argv) {
    DWORD lifetimeMs = INFINITE;
    KRVN::unique_handle stop;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::wstring option = argv[i];
        if (option == L"--lifetime") {
            lifetimeMs = static_cast<DWORD>(std::wcstoul(argv[i + 1], nullptr, 10) * 1000);
        } else if (option == L"--stop-event") {
            stop.reset(::CreateEventW(nullptr, TRUE, FALSE, argv[i + 1]));
        } else {
            return 2;
        }
    }
    if (argc % 2 == 0) {
        return 2;
    }
    if (stop) {
        ::WaitForSingleObject(stop.get(), lifetimeMs);
    } else {
        ::Sleep(lifetimeMs);
    }
    return 0;
}
