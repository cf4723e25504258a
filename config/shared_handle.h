#pragma once
// A registry key below HKEY_LOCAL_MACHINE, shared by copies: all copies see
// one heap slot, and the key in it is closed when the last copy goes. Values
// move in and out as serialized typed values (config/value.h), so callers
// never handle registry types.
//
// Every operation returns an HRESULT, 0 on success; a Win32 status s comes
// back as HResultFromStatus(s). A value path is a value name, or a subkey
// path, a backslash and a value name: the part before the last backslash
// names a subkey of the open key, opened (reading) or created (writing) for
// that one call.

#include <windows.h>

#include "common/unique_handle.h"
#include "config/counted_ptr.h"
#include "config/handle_holder.h"

namespace KRVN {

using HKEYTraits = unique_hkey::traits;

template <class Handle, class Traits> class CSharedHandle {
public:
    // KEY_READ, KEY_SET_VALUE and KEY_CREATE_SUB_KEY: the store reads, writes
    // and deletes values with one handle.
    static constexpr REGSAM kAccess = KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY;

    // A fresh slot holding no key.
    CSharedHandle()
        : m_slot(new Handle(Traits::invalid())), m_owner(m_slot, HandleHolder<Handle, Traits>()) {}
    CSharedHandle(const CSharedHandle&) = default;
    CSharedHandle& operator=(const CSharedHandle&) = default;
    virtual ~CSharedHandle() = default;

    // Opens HKEY_LOCAL_MACHINE\path. On success the key takes the place of
    // the slot's previous one (closed) for every copy; on failure the slot
    // keeps what it held.
    HRESULT Open(const wchar_t* path);
    // As Open, creating the key (non-volatile) when it is missing.
    HRESULT Create(const wchar_t* path);

    // Reads a value as a serialized typed value: REG_SZ and REG_EXPAND_SZ as
    // eWString (the text before the first NUL, unexpanded), REG_BINARY as
    // eBlob, REG_DWORD as eULong (its first 4 bytes, zero-extended when
    // shorter). With buffer null, *size becomes the bytes a second call
    // needs: the data size + 8, and never less than 12 for REG_DWORD.
    // Otherwise *size is the buffer's capacity and stays as it is; a smaller
    // one than the value needs gives HRESULT_FROM_WIN32(ERROR_MORE_DATA).
    // Other registry types give HRESULT_FROM_WIN32(ERROR_UNSUPPORTED_TYPE).
    HRESULT GetValue(const wchar_t* path, void* buffer, DWORD* size);
    // Writes a serialized typed value: 32-, 16- and 8-bit numbers as
    // REG_DWORD of their own width, eWString as REG_SZ with a terminating
    // NUL, eBlob as REG_BINARY; eWIString gives E_INVALIDARG, every other
    // type HRESULT_FROM_WIN32(ERROR_UNSUPPORTED_TYPE).
    HRESULT SetValue(const wchar_t* path, const void* data, DWORD length);
    HRESULT DeleteValue(const wchar_t* name);

private:
    void Replace(Handle handle) noexcept;

    Handle* m_slot;
    CountedPtr<Handle> m_owner;
};

extern template class CSharedHandle<HKEY, HKEYTraits>;

using CSharedKey = CSharedHandle<HKEY, HKEYTraits>;

} // namespace KRVN
