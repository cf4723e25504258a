#pragma once
// The service's own copy of a server object that a client hands in: a new
// QNServer with the source's Address, Password and Port, never probed.

#include "com/com_ptr.h"
#include "contract/TolvaneLib.h"

// S_OK with copy set; E_POINTER for a null source, E_NOINTERFACE when it
// offers no IQNServer, or the failure of reading it or making the copy.
HRESULT CloneServer(IUnknown* source, KRVN::com_ptr<IQNServer>& copy) noexcept;
