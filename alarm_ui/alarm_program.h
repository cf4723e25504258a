#pragma once
// The Alarm program from start to end: COM apartment and security, the
// service objects, the single-instance rule, the watch for the service's
// close request, the tray icon with the settings dialog, the message loop,
// and the shutdown in reverse order.

#include "alarm_ui/single_instance.h"

// Returns the exit code: -1 when the service objects or the module cannot
// be initialised, 1 when another instance runs, 0 when the tray icon cannot
// read the connection state, else the message loop's (0 after "&Выйти" or
// the service's close request). `createRunningEvent` makes the
// single-instance event (CreateEventExW unless a test looks at it).
int RunAlarmProgram(SingleInstance::CreateEventFunction createRunningEvent = &::CreateEventExW);
