#include "config/shared_handle.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>

#include "common/ca_exception.h"
#include "config/buffer.h"
#include "config/bv_value.h"
#include "config/value_type.h"
#include "config/wide_string.h"

namespace KRVN {

namespace {

// A REG_DWORD read as eULong: its header and one 32-bit word.
constexpr DWORD kDwordValueBytes = CValue::kHeaderSize + 4;

HRESULT FromStatus(LONG status) noexcept {
    return HResultFromStatus(static_cast<std::int32_t>(status));
}

void Check(LONG status) {
    if (status != ERROR_SUCCESS) {
        KRVN_RAISE(FromStatus(status));
    }
}

struct ValuePath {
    bool hasSubkey = false;
    std::wstring subkey;
    std::wstring name;
};

// Splits at the last backslash.
ValuePath SplitValuePath(const wchar_t* path) {
    const std::wstring whole(path);
    if (whole.empty()) {
        KRVN_RAISE(kE_INVALIDARG);
    }
    ValuePath split;
    const std::size_t slash = whole.rfind(L'\\');
    if (slash == std::wstring::npos) {
        split.name = whole;
    } else {
        split.hasSubkey = true;
        split.subkey = whole.substr(0, slash);
        split.name = whole.substr(slash + 1);
    }
    return split;
}

// The serialized typed value of registry data. The data comes from outside:
// text may lack its terminator or end in half a character, and a REG_DWORD
// may have any length.
CBuffer ToTypedValue(DWORD type, const CBuffer& data) {
    CBuffer form;
    CBVValue value(&form);
    switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ: {
        WString text;
        for (std::size_t i = 0; i + 1 < data.Size(); i += 2) {
            const auto unit = static_cast<WChar>(data[i] | (data[i + 1] << 8));
            if (unit == 0) {
                break;
            }
            text.push_back(unit);
        }
        value.SetWString(text);
        break;
    }
    case REG_BINARY:
        value.SetBlob(data);
        break;
    case REG_DWORD: {
        std::uint32_t word = 0;
        for (std::size_t i = 0; i < data.Size() && i < 4; ++i) {
            word |= static_cast<std::uint32_t>(data[i]) << (8 * i);
        }
        value.SetULong(word);
        break;
    }
    default:
        KRVN_RAISE(FromStatus(ERROR_UNSUPPORTED_TYPE));
    }
    return form;
}

struct RegistryData {
    DWORD type;
    CBuffer bytes;
};

RegistryData NumberData(const CValue& value, ValueType type, std::size_t width) {
    CBuffer bytes(width);
    value.Get(type, bytes.Data(), width);
    return {REG_DWORD, std::move(bytes)};
}

// The registry type and data for a serialized typed value.
RegistryData ToRegistryData(const void* data, DWORD length) {
    CBuffer form(data, length);
    const CBVValue value(&form);
    const ValueType type = value.GetType();
    switch (type) {
    case eLong:
    case eULong:
    case eInt:
    case eUInt:
        return NumberData(value, type, 4);
    case eUShort:
        return NumberData(value, type, 2);
    case eBool:
    case eUChar:
        return NumberData(value, type, 1);
    case eWString: {
        const WString text = value.GetWString();
        CBuffer bytes((text.size() + 1) * 2);
        for (std::size_t i = 0; i < text.size(); ++i) {
            bytes[2 * i] = static_cast<unsigned char>(text[i]);
            bytes[2 * i + 1] = static_cast<unsigned char>(text[i] >> 8);
        }
        return {REG_SZ, std::move(bytes)};
    }
    case eBlob:
        return {REG_BINARY, value.GetBlob()};
    case eWIString:
        // Taken as text, but no getter reads this type.
        KRVN_RAISE(kE_INVALIDARG);
    default:
        KRVN_RAISE(FromStatus(ERROR_UNSUPPORTED_TYPE));
    }
}

} // namespace

template <class Handle, class Traits>
HRESULT CSharedHandle<Handle, Traits>::Open(const wchar_t* path) {
    if (!path) {
        return E_POINTER;
    }
    unique_any<Traits> key;
    const LONG status = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, kAccess, key.put());
    if (status == ERROR_SUCCESS) {
        Replace(key.release());
    }
    return FromStatus(status);
}

template <class Handle, class Traits>
HRESULT CSharedHandle<Handle, Traits>::Create(const wchar_t* path) {
    if (!path) {
        return E_POINTER;
    }
    unique_any<Traits> key;
    const LONG status =
        ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, REG_OPTION_NON_VOLATILE, kAccess,
                          nullptr, key.put(), nullptr);
    if (status == ERROR_SUCCESS) {
        Replace(key.release());
    }
    return FromStatus(status);
}

template <class Handle, class Traits>
HRESULT CSharedHandle<Handle, Traits>::GetValue(const wchar_t* path, void* buffer, DWORD* size) {
    if (!path || !size) {
        return E_POINTER;
    }
    try {
        const ValuePath split = SplitValuePath(path);
        Handle key = *m_slot;
        unique_any<Traits> subkey;
        if (split.hasSubkey) {
            Check(::RegOpenKeyExW(key, split.subkey.c_str(), 0, KEY_READ, subkey.put()));
            key = subkey.get();
        }
        DWORD type = 0;
        DWORD dataSize = 0;
        Check(::RegQueryValueExW(key, split.name.c_str(), nullptr, &type, nullptr, &dataSize));
        if (!buffer) {
            // A short REG_DWORD still reads as a whole eULong.
            const DWORD needed = dataSize + static_cast<DWORD>(CValue::kHeaderSize);
            *size = type == REG_DWORD && needed < kDwordValueBytes ? kDwordValueBytes : needed;
            return S_OK;
        }
        CBuffer data(dataSize);
        DWORD read = dataSize;
        Check(::RegQueryValueExW(key, split.name.c_str(), nullptr, &type, data.Data(), &read));
        data.Resize(read);
        const CBuffer form = ToTypedValue(type, data);
        if (form.Size() > *size) {
            return FromStatus(ERROR_MORE_DATA);
        }
        std::memcpy(buffer, form.Data(), form.Size());
        return S_OK;
    } catch (const CAException& e) {
        return e.Code();
    } catch (...) {
        return E_FAIL;
    }
}

template <class Handle, class Traits>
HRESULT CSharedHandle<Handle, Traits>::SetValue(const wchar_t* path, const void* data,
                                                DWORD length) {
    if (!path || !data || length == 0) {
        return E_POINTER;
    }
    try {
        const ValuePath split = SplitValuePath(path);
        const RegistryData written = ToRegistryData(data, length);
        Handle key = *m_slot;
        unique_any<Traits> subkey;
        if (split.hasSubkey) {
            Check(::RegCreateKeyExW(key, split.subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                    KEY_WRITE, nullptr, subkey.put(), nullptr));
            key = subkey.get();
        }
        return FromStatus(::RegSetValueExW(key, split.name.c_str(), 0, written.type,
                                           written.bytes.Data(),
                                           static_cast<DWORD>(written.bytes.Size())));
    } catch (const CAException& e) {
        return e.Code();
    } catch (...) {
        return E_FAIL;
    }
}

template <class Handle, class Traits>
HRESULT CSharedHandle<Handle, Traits>::DeleteValue(const wchar_t* name) {
    return FromStatus(::RegDeleteValueW(*m_slot, name));
}

template <class Handle, class Traits>
void CSharedHandle<Handle, Traits>::Replace(Handle handle) noexcept {
    const Handle old = std::exchange(*m_slot, handle);
    if (old != Traits::invalid()) {
        Traits::close(old);
    }
}

template class CSharedHandle<HKEY, HKEYTraits>;

} // namespace KRVN
