#pragma once
// The Alarm program from start to end: COM apartment and security, the
// service objects, the single-instance rule (and the hand-over to an
// elevated instance), the watch for the service's close request, the tray
// icon with the settings dialog, the message loop, and the shutdown in
// reverse order.

#include "alarm_ui/elevated_restart.h"
#include "alarm_ui/single_instance.h"

// Returns the exit code: -1 when the process's COM security, the service
// objects or the module cannot be initialised, 1 when another instance runs
// (and offered no hand-over), 0 when the tray icon cannot read the
// connection state, else the message loop's (0 after "&Выйти", the
// service's close request or a hand-over to an elevated instance).
// `createRunningEvent` makes the single-instance event (CreateEventExW
// unless a test looks at it); `elevation` the calls of the elevated restart.
int RunAlarmProgram(SingleInstance::CreateEventFunction createRunningEvent = &::CreateEventExW,
                    ElevationCalls elevation = {});
