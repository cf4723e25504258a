#pragma once
// What the result of a call into a desktop client says about the client.

#include <windows.h>

// The errors of a call whose client process has gone: its sink can never be
// reached again. (Wine answers a call to a killed process with
// RPC_S_SERVER_UNAVAILABLE.)
inline bool IsClientGone(HRESULT hr) noexcept {
    switch (hr) {
    case RPC_E_DISCONNECTED:
    case CO_E_OBJNOTCONNECTED:
    case RPC_E_SERVER_DIED:
    case RPC_E_SERVER_DIED_DNE:
    case HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE):
    case HRESULT_FROM_WIN32(RPC_S_CALL_FAILED):
    case HRESULT_FROM_WIN32(RPC_S_CALL_FAILED_DNE):
        return true;
    default:
        return false;
    }
}

// The failures of a call that COM itself gives, whatever the client would
// have answered: access refused by the client's security, a fault inside the
// call, a client that is stopping or rejecting calls, and RPC's own errors.
// A client that could not be reached this way has not taken what was sent.
inline bool IsComSideFailure(HRESULT hr) noexcept {
    return HRESULT_FACILITY(hr) == FACILITY_RPC || hr == E_ACCESSDENIED ||
           hr == CO_E_SERVER_STOPPING;
}
