#pragma once
// Error handling at COM boundaries: exceptions never leave a COM method, and
// result codes travel up in one line.

#include <windows.h>

#include <new>

#include "common/ca_exception.h"

namespace KRVN::com {

// The HRESULT of the exception being handled; call only inside a catch block.
inline HRESULT HResultFromCaughtException() noexcept {
    try {
        throw;
    } catch (const CAException& e) {
        return e.Code();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

} // namespace KRVN::com

// Ends a `try { ... }` block of a function that returns an HRESULT.
#define KRVN_CATCH_RETURN()                                                                        \
    catch (...) {                                                                                  \
        return ::KRVN::com::HResultFromCaughtException();                                          \
    }

#define KRVN_RETURN_IF_FAILED(expr)                                                                \
    do {                                                                                           \
        const HRESULT krvn_hr_ = (expr);                                                           \
        if (FAILED(krvn_hr_)) {                                                                    \
            return krvn_hr_;                                                                       \
        }                                                                                          \
    } while (false)
