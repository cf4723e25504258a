#pragma once
// Owner of a wait of the thread pool (RegisterWaitForSingleObject). Ending
// it with UnregisterWaitEx(INVALID_HANDLE_VALUE) returns only once no
// callback of it runs any more, so whatever the callback uses may go after.
// Never end it from inside its own callback.

#include <windows.h>

#include "common/unique_handle.h"

namespace unique_wait_detail {
inline void EndWait(HANDLE wait) noexcept {
    ::UnregisterWaitEx(wait, INVALID_HANDLE_VALUE);
}
} // namespace unique_wait_detail

using unique_wait = KRVN::unique_any<KRVN::close_with<HANDLE, &unique_wait_detail::EndWait>>;
