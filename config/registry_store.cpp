#include "config/registry_store.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "com/result.h"
#include "common/ca_exception.h"
#include "config/alarm_key_security.h"
#include "config/buffer.h"
#include "config/bv_value.h"
#include "config/shared_handle.h"
#include "config/typed_blob.h"
#include "config/typed_blob_part.h"

namespace KRVN {

namespace {

// Where the earlier plug-in layout kept the server list and the port name.
constexpr wchar_t kLegacyListSuffix[] = L"\\Plugins\\QNNotifier\\Parameters";
constexpr wchar_t kLegacyPortSuffix[] = L"\\Plugins\\RBEvents\\Parameters";

constexpr wchar_t kServerListValue[] = L"ServerConfig";

// Part 0 of the current server-list image.
constexpr wchar_t kFormatTag[] = L"alrm_4.2";

void Check(HRESULT hr) {
    if (hr != S_OK) {
        KRVN_RAISE(hr);
    }
}

// What a value written into the settings key holds.
enum class Content { Plain, Passwords };

// Opens the settings key for writing. A key made here is the service's
// before anything goes in: one that cannot be made so is not made.
void CreateAlarmKey(CSharedKey& key) {
    const HRESULT opened = key.Open(kAlarmKeyPath);
    if (opened == S_OK) {
        return;
    }
    if (opened == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) {
        Check(ProtectAlarmKey());
    }
    Check(key.Create(kAlarmKeyPath));
}

std::wstring KeyPath(const wchar_t* suffix) {
    std::wstring path(kAlarmKeyPath);
    if (suffix) {
        path += suffix;
    }
    return path;
}

// A value of the settings key, or of its subkey suffix, as a serialized
// typed value, in a buffer of the size GetValue asks for.
CBuffer ReadStoredValue(const wchar_t* suffix, const wchar_t* name) {
    CSharedKey key;
    Check(key.Open(KeyPath(suffix).c_str()));
    DWORD size = 0;
    Check(key.GetValue(name, nullptr, &size));
    CBuffer form(size);
    Check(key.GetValue(name, form.Data(), &size));
    return form;
}

// HKLM\path when it holds no value and no subkey.
bool IsEmptyKey(const std::wstring& path) {
    unique_hkey key;
    DWORD subkeys = 0;
    DWORD values = 0;
    return ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE, key.put()) ==
               ERROR_SUCCESS &&
           ::RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                              &values, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
           subkeys == 0 && values == 0;
}

// The earlier layout's subkey, and the keys between it and the settings key,
// go once nothing is left in them; whatever else they hold keeps them.
void RemoveEmptyLegacyKeys(const wchar_t* suffix) {
    const std::wstring root(kAlarmKeyPath);
    for (std::wstring path = KeyPath(suffix); path.size() > root.size();
         path.erase(path.rfind(L'\\'))) {
        if (!IsEmptyKey(path) ||
            ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str()) != ERROR_SUCCESS) {
            return;
        }
    }
}

// Once a value has been written in the current place, its copy in the earlier
// layout has served its purpose. Until then it stays, so that a failed write
// never loses it: the next start moves it again.
void RetireLegacyValue(const wchar_t* suffix, const wchar_t* name) {
    CSharedKey key;
    if (key.Open(KeyPath(suffix).c_str()) == S_OK) {
        key.DeleteValue(name);
    }
    RemoveEmptyLegacyKeys(suffix);
}

// Writes a serialized typed value in the settings key, then retires the
// earlier layout's copy. Passwords go only into a key whose last
// protection did not fail.
void WriteStoredValue(const wchar_t* name, const CBuffer& form, const wchar_t* legacySuffix,
                      Content content) {
    CSharedKey key;
    CreateAlarmKey(key);
    if (content == Content::Passwords) {
        Check(AlarmKeyProtection());
    }
    Check(key.SetValue(name, form.Data(), static_cast<DWORD>(form.Size())));
    RetireLegacyValue(legacySuffix, name);
}

// Text up to its first NUL: a text value read into the buffer GetValue asks
// for ends in zeros, and a stored text ends at its first zero.
std::wstring UpToNul(const std::wstring& text) {
    return std::wstring(text.c_str());
}

// A stored list image, checked against its length before any part is read
// (a malformed one raises E_INVALIDARG).
CTypedBlob ReadListImage(const wchar_t* suffix) {
    CBuffer form = ReadStoredValue(suffix, kServerListValue);
    CTypedBlob blob;
    blob.LoadFrom(CBVValue(&form).GetBlob());
    return blob;
}

std::wstring TextOf(CTypedBlob& blob, std::uint32_t index) {
    return UpToNul(GetPartValue(blob, index)->GetWString());
}

// A password part holds UTF-16LE code units up to the first zero; a
// trailing odd byte is no unit. Made in place, with no copy on the way.
SecretWString PasswordOf(CTypedBlob& blob, std::uint32_t index) {
    const CBuffer bytes = GetPartValue(blob, index)->GetBlob();
    const std::size_t units = bytes.Size() / 2;
    SecretWString password;
    password.Text().reserve(units);
    for (std::size_t i = 0; i < units; ++i) {
        const auto unit = static_cast<wchar_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
        if (unit == L'\0') {
            break;
        }
        password.Text().push_back(unit);
    }
    return password;
}

// A load delivers all of its servers or, when it fails, none: a failed load
// of the earlier layout must not leave entries in front of the current one's.
void Deliver(ServerRecordList& loaded, ServerRecordList& servers) {
    servers.reserve(servers.size() + loaded.size());
    servers.insert(servers.end(), std::make_move_iterator(loaded.begin()),
                   std::make_move_iterator(loaded.end()));
}

} // namespace

// The migrated servers are delivered with 0 even when saving them in the
// current layout fails: the alarm manager lists servers only after a 0, and
// the earlier layout keeps them until a save succeeds (SaveServerList retires
// it then), so nothing is lost either way.
HRESULT LoadServerList(ServerRecordList& servers) {
    try {
        if (LoadLegacyServerList(servers) != S_OK) {
            return LoadStoredServerList(servers);
        }
        SaveServerList(servers);
        return S_OK;
    }
    KRVN_CATCH_RETURN()
}

HRESULT LoadLegacyServerList(ServerRecordList& servers) {
    try {
        CTypedBlob blob = ReadListImage(kLegacyListSuffix);
        const std::int64_t count = GetPartValue(blob, 0)->GetInt();
        ServerRecordList loaded;
        for (std::int64_t t = 1; t <= 2 * count; t += 2) {
            const auto index = static_cast<std::uint32_t>(t);
            loaded.push_back({TextOf(blob, index), PasswordOf(blob, index + 1), 0});
        }
        Deliver(loaded, servers);
        return S_OK;
    }
    KRVN_CATCH_RETURN()
}

HRESULT LoadStoredServerList(ServerRecordList& servers) {
    try {
        CTypedBlob blob = ReadListImage(nullptr);
        // The tag is not compared with anything, but it must be text.
        GetPartValue(blob, 0)->GetWString();
        const std::int32_t count = GetPartValue(blob, 1)->GetInt();
        ServerRecordList loaded;
        for (std::int32_t k = 0; k < count; ++k) {
            const std::uint32_t index = 2 + 3 * static_cast<std::uint32_t>(k);
            ServerRecord server{TextOf(blob, index), PasswordOf(blob, index + 1)};
            const std::wstring port = GetPartValue(blob, index + 2)->GetWString();
            server.port = static_cast<ULONG>(::_wtol(port.c_str()));
            loaded.push_back(std::move(server));
        }
        Deliver(loaded, servers);
        return S_OK;
    }
    KRVN_CATCH_RETURN()
}

HRESULT SaveServerList(const ServerRecordList& servers) {
    try {
        CTypedBlob blob;
        GetPartValue(blob, 0)->SetWString(kFormatTag);
        GetPartValue(blob, 1)->SetInt(static_cast<std::int32_t>(servers.size()));
        std::uint32_t index = 2;
        for (const ServerRecord& server : servers) {
            const std::wstring& password = server.password.Text();
            const auto units = static_cast<std::size_t>(
                std::find(password.begin(), password.end(), L'\0') - password.begin());
            GetPartValue(blob, index)->SetWString(UpToNul(server.address));
            GetPartValue(blob, index + 1)->SetBlob(password.data(), units * sizeof(wchar_t));
            GetPartValue(blob, index + 2)
                ->SetWString(std::to_wstring(static_cast<LONG>(server.port)));
            index += 3;
        }
        CBuffer image;
        blob.WriteTo(image);
        CBuffer form;
        CBVValue(&form).SetBlob(image);
        WriteStoredValue(kServerListValue, form, kLegacyListSuffix, Content::Passwords);
        return S_OK;
    }
    KRVN_CATCH_RETURN()
}

std::wstring LoadComPort(const PortNameCheck& usable) {
    std::wstring legacy;
    if (ReadComPort(legacy, kLegacyPortSuffix) && usable(legacy, KeyPath(kLegacyPortSuffix))) {
        SaveComPort(legacy);
        return legacy;
    }
    std::wstring current;
    if (ReadComPort(current) && usable(current, KeyPath(nullptr))) {
        return current;
    }
    return std::wstring();
}

bool ReadComPort(std::wstring& name, const wchar_t* keySuffix) {
    try {
        CBuffer form = ReadStoredValue(keySuffix, kComPortValue);
        name = UpToNul(CBVValue(&form).GetWString());
        return true;
    } catch (...) {
        return false;
    }
}

HRESULT SaveComPort(const std::wstring& name) {
    try {
        CBuffer form;
        CBVValue(&form).SetWString(name);
        WriteStoredValue(kComPortValue, form, kLegacyPortSuffix, Content::Plain);
        return S_OK;
    }
    KRVN_CATCH_RETURN()
}

HRESULT LoadConnectCheckDelay(LONG& delaySeconds) {
    try {
        CBuffer form = ReadStoredValue(nullptr, kCheckDelayValue);
        delaySeconds = static_cast<LONG>(CBVValue(&form).GetULong());
        return S_OK;
    }
    KRVN_CATCH_RETURN()
}

bool LoadAdminOnly() {
    DWORD value = 0;
    DWORD size = sizeof value;
    return ::RegGetValueW(HKEY_LOCAL_MACHINE, kAlarmKeyPath, kAdminOnlyValue, RRF_RT_REG_DWORD,
                          nullptr, &value, &size) == ERROR_SUCCESS &&
           value != 0;
}

} // namespace KRVN
