#pragma once
// COM's own handling of faults in the service's methods, turned off. By
// default COM catches a fault inside a method and answers the client
// RPC_E_SERVERFAULT, and the process goes on, perhaps with a lock held or
// its state half changed. A LocalSystem service that holds passwords and
// the alarm had better end and be restarted by the service manager (its
// failure actions), so no fault is handled: a fatal one ends the process as
// it would outside COM, any other one too.

#include <windows.h>
#include <objidl.h>

#include "com/com_ptr.h"

// How the process's IGlobalOptions is had; tests hand in one of their own.
using GlobalOptionsSource = HRESULT (*)(KRVN::com_ptr<IGlobalOptions>& options);

// COMGLB_EXCEPTION_HANDLING set to COMGLB_EXCEPTION_DONOT_HANDLE_ANY. Once
// per process, after CoInitializeSecurity (before Windows 7 the options
// need it) and before any class object is registered, so that no call is
// ever served with the handling on.
HRESULT DisableComExceptionHandling(GlobalOptionsSource source = nullptr);
