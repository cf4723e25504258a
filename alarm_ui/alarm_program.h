#pragma once
// The Alarm program from start to end: COM apartment and security, the
// service objects, the single-instance rule, the tray icon with the settings
// dialog, the message loop, and the shutdown in reverse order.

// Returns the exit code: -1 when the service objects or the module cannot
// be initialised, 1 when another instance runs, 0 when the tray icon cannot
// read the connection state, else the message loop's (0 after "&Выйти").
int RunAlarmProgram();
