#pragma once
// Whether the code running on this thread was called through COM from
// another process, as against by the service's own code (the checker, the
// manager), which calls its objects directly.

// True while this thread serves a call from another process: COM gives the
// call a context (CoGetCallContext), or, where it gives none (Wine), the RPC
// runtime names a calling process other than this one.
bool IsCrossProcessCall() noexcept;
