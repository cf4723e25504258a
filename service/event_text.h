#pragma once
// Text from outside the service (server addresses, names read back from the
// registry) as an event may carry it. A control character would let such a
// text forge lines of its own in the event log and on the console, so each
// one is written as an escape instead: "<U+000D>" for a carriage return.
// Taken as control characters: U+0000 to U+001F, U+007F to U+009F, and the
// line and paragraph separators U+2028 and U+2029.

#include <string>

std::wstring EventText(const std::wstring& text);
