#pragma once
// What every connections test needs: a QNServer object describing a server,
// and (set up for the whole program) Winsock 2.2 and the multithreaded
// apartment.

#include <windows.h>

#include "com/com_ptr.h"
#include "contract/TolvaneLib.h"

namespace krvn_test {

// A new QNServer (the class that ships) with these settings; null strings
// stay unset.
KRVN::com_ptr<IQNServer> MakeServerObject(const wchar_t* address, const wchar_t* password,
                                          ULONG port);

} // namespace krvn_test
