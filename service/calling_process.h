#pragma once
// The process of the client whose call this thread serves, opened only to
// tell when it has ended.

#include "common/unique_handle.h"

// Empty when there is no local client call on this thread, or the runtime
// cannot tell its process.
KRVN::unique_handle CallingProcess();
