#pragma once
// The account this program runs as, read from its own process token: the
// callbacks' COM security admits it, and the hand-over to an elevated
// instance trusts only events it owns.

#include <windows.h>

#include <string>

// The user's SID as text ("S-1-5-21-..."); S_OK, or the failing call's
// error.
HRESULT ProcessUserSid(std::wstring& text);
