#pragma once
// Names by which the program and its windows are known from outside.

// Title of the settings dialog, caption of every message box and balloon,
// and the window name by which a second start finds the first.
inline constexpr wchar_t kAppTitle[] = L"Quendor Alarm";

// Window class of dialogs, for finding the settings dialog of a running instance.
inline constexpr wchar_t kDialogClass[] = L"#32770";

// Held by the running instance; global so that one instance runs per machine.
inline constexpr wchar_t kRunningEventName[] = L"Global\\KRVN_Alrm_Running";

// The hand-over from a filtered instance to the elevated one it started:
// set by the elevated instance once it has the service's objects, then by
// the filtered one once it has shut down (hand_over.h).
inline constexpr wchar_t kHandOverEventName[] = L"Global\\KRVN_Alrm_HandOver";
inline constexpr wchar_t kReleasedEventName[] = L"Global\\KRVN_Alrm_Released";
