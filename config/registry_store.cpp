#include "config/registry_store.h"

#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <string>
#include <vector>

#include "com/bstr.h"
#include "com/com_object.h"
#include "com/result.h"
#include "common/ca_exception.h"
#include "config/alarm_key_security.h"
#include "config/buffer.h"
#include "config/bv_value.h"
#include "config/shared_handle.h"
#include "config/typed_blob.h"
#include "config/typed_blob_part.h"
#include "connections/qn_server.h"

namespace KRVN {

namespace {

// Where the earlier plug-in layout kept the server list and the port name.
constexpr wchar_t kLegacyListSuffix[] = L"\\Plugins\\QNNotifier\\Parameters";
constexpr wchar_t kLegacyPortSuffix[] = L"\\Plugins\\RBEvents\\Parameters";

constexpr wchar_t kServerListValue[] = L"ServerConfig";
constexpr wchar_t kComPortValue[] = L"COM";
constexpr wchar_t kCheckDelayValue[] = L"ConnectCheckDelay";
constexpr wchar_t kAdminOnlyValue[] = L"AdminOnlyConfiguration";

// Part 0 of the current server-list image.
constexpr wchar_t kFormatTag[] = L"alrm_4.2";

void Check(HRESULT hr) {
    if (hr != S_OK)
        KRVN_RAISE(hr);
}

// Opens the settings key for writing; a key made here gets the service's
// DACL before a password goes in (failing that, the save still goes on).
void CreateAlarmKey(CSharedKey& key) {
    const HRESULT opened = key.Open(kAlarmKeyPath);
    if (opened == S_OK) {
        return;
    }
    if (opened == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) {
        ProtectAlarmKey();
    }
    Check(key.Create(kAlarmKeyPath));
}

std::wstring KeyPath(const wchar_t* suffix) {
    std::wstring path(kAlarmKeyPath);
    if (suffix)
        path += suffix;
    return path;
}

// The value as a serialized typed value, in a buffer of the size GetValue
// asks for.
CBuffer ReadValue(CSharedKey& key, const wchar_t* name) {
    DWORD size = 0;
    Check(key.GetValue(name, nullptr, &size));
    CBuffer form(size);
    Check(key.GetValue(name, form.Data(), &size));
    return form;
}

// Text up to its first NUL: a text value read into the buffer GetValue asks
// for ends in zeros.
std::wstring UpToNul(const std::wstring& text) {
    return std::wstring(text.c_str());
}

// A stored list image, checked against its length before any part is read
// (a malformed one raises E_INVALIDARG).
CTypedBlob ReadListImage(CSharedKey& key) {
    CBuffer form = ReadValue(key, kServerListValue);
    CTypedBlob blob;
    blob.LoadFrom(CBVValue(&form).GetBlob());
    return blob;
}

// A password part holds UTF-16LE code units; a trailing odd byte is no unit.
std::wstring PasswordOf(const CValue& part) {
    const CBuffer bytes = part.GetBlob();
    std::wstring password(bytes.Size() / 2, L'\0');
    for (std::size_t i = 0; i < password.size(); ++i)
        password[i] = static_cast<wchar_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    return password;
}

com_ptr<IDispatch> MakeServerObject(const std::wstring& address, const std::wstring& password,
                                    ULONG port) {
    const com_ptr<IQNServer> server(com::ComObject<QNServer>::Make());
    Check(server->put_Address(unique_bstr(address.c_str()).get()));
    Check(server->put_Password(unique_bstr(password.c_str()).get()));
    Check(server->put_Port(port));
    return server.query<IDispatch>();
}

// A load delivers all of its servers or, when it fails, none: a failed load
// of the earlier layout must not leave entries in front of the current one's.
void Deliver(ServerObjectList& loaded, ServerObjectList& servers) {
    servers.reserve(servers.size() + loaded.size());
    servers.insert(servers.end(), std::make_move_iterator(loaded.begin()),
                   std::make_move_iterator(loaded.end()));
}

// Once a value has been written in the current place, its copy in the earlier
// layout has served its purpose. Until then it stays, so that a failed write
// never loses it: the next start moves it again.
void RetireLegacyValue(const wchar_t* suffix, const wchar_t* name) {
    CSharedKey key;
    if (key.Open(KeyPath(suffix).c_str()) == S_OK)
        key.DeleteValue(name);
}

} // namespace

// The migrated servers are delivered with 0 even when saving them in the
// current layout fails: the alarm manager lists servers only after a 0, and
// the earlier layout keeps them until a save succeeds (SaveServerList retires
// it then), so nothing is lost either way.
HRESULT LoadServerList(ServerObjectList& servers) {
    try {
        if (LoadLegacyServerList(servers) != S_OK)
            return LoadStoredServerList(servers);
        std::vector<IUnknown*> migrated;
        for (const auto& server : servers)
            migrated.push_back(server.get());
        SaveServerList(migrated);
        return S_OK;
    }
    KRVN_CATCH_RETURN()
}

HRESULT LoadLegacyServerList(ServerObjectList& servers) {
    try {
        CSharedKey key;
        Check(key.Open(KeyPath(kLegacyListSuffix).c_str()));
        CTypedBlob blob = ReadListImage(key);
        const std::int64_t count = GetPartValue(blob, 0)->GetInt();
        ServerObjectList loaded;
        for (std::int64_t t = 1; t <= 2 * count; t += 2) {
            const auto index = static_cast<std::uint32_t>(t);
            const std::wstring address = GetPartValue(blob, index)->GetWString();
            const std::wstring password = PasswordOf(*GetPartValue(blob, index + 1));
            loaded.push_back(MakeServerObject(address, password, 0));
        }
        Deliver(loaded, servers);
        return S_OK;
    }
    KRVN_CATCH_RETURN()
}

HRESULT LoadStoredServerList(ServerObjectList& servers) {
    try {
        CSharedKey key;
        Check(key.Open(kAlarmKeyPath));
        CTypedBlob blob = ReadListImage(key);
        // The tag is not compared with anything, but it must be text.
        GetPartValue(blob, 0)->GetWString();
        const std::int32_t count = GetPartValue(blob, 1)->GetInt();
        ServerObjectList loaded;
        for (std::int32_t k = 0; k < count; ++k) {
            const std::uint32_t index = 2 + 3 * static_cast<std::uint32_t>(k);
            const std::wstring address = GetPartValue(blob, index)->GetWString();
            const std::wstring password = PasswordOf(*GetPartValue(blob, index + 1));
            const std::wstring port = GetPartValue(blob, index + 2)->GetWString();
            loaded.push_back(
                MakeServerObject(address, password, static_cast<ULONG>(::_wtol(port.c_str()))));
        }
        Deliver(loaded, servers);
        return S_OK;
    }
    KRVN_CATCH_RETURN()
}

HRESULT SaveServerList(const std::vector<IUnknown*>& servers) {
    try {
        CSharedKey key;
        CreateAlarmKey(key);
        CTypedBlob blob;
        GetPartValue(blob, 0)->SetWString(kFormatTag);
        GetPartValue(blob, 1)->SetInt(static_cast<std::int32_t>(servers.size()));
        std::uint32_t index = 2;
        for (IUnknown* element : servers) {
            const auto server = com_ptr<IUnknown>(element).query<IQNServer>();
            unique_bstr address;
            unique_bstr password;
            ULONG port = 0;
            Check(server->get_Address(address.put()));
            Check(server->get_Password(password.put()));
            Check(server->get_Port(&port));
            // A property never set is null: saved as empty.
            const std::wstring addressText(address ? address.get() : L"");
            const std::wstring passwordText(password ? password.get() : L"");
            GetPartValue(blob, index)->SetWString(addressText);
            GetPartValue(blob, index + 1)
                ->SetBlob(passwordText.data(), passwordText.size() * sizeof(wchar_t));
            GetPartValue(blob, index + 2)->SetWString(std::to_wstring(static_cast<LONG>(port)));
            index += 3;
        }
        CBuffer image;
        blob.WriteTo(image);
        CBuffer form;
        CBVValue(&form).SetBlob(image);
        Check(key.SetValue(kServerListValue, form.Data(), static_cast<DWORD>(form.Size())));
        RetireLegacyValue(kLegacyListSuffix, kServerListValue);
        return S_OK;
    }
    KRVN_CATCH_RETURN()
}

std::wstring LoadComPort() {
    std::wstring name;
    if (ReadComPort(name, kLegacyPortSuffix)) {
        SaveComPort(name);
        return name;
    }
    ReadComPort(name);
    return name;
}

bool ReadComPort(std::wstring& name, const wchar_t* keySuffix) {
    try {
        CSharedKey key;
        Check(key.Open(KeyPath(keySuffix).c_str()));
        CBuffer form = ReadValue(key, kComPortValue);
        name = UpToNul(CBVValue(&form).GetWString());
        return true;
    } catch (...) {
        return false;
    }
}

HRESULT SaveComPort(const std::wstring& name) {
    try {
        CSharedKey key;
        CreateAlarmKey(key);
        CBuffer form;
        CBVValue(&form).SetWString(name);
        Check(key.SetValue(kComPortValue, form.Data(), static_cast<DWORD>(form.Size())));
        RetireLegacyValue(kLegacyPortSuffix, kComPortValue);
        return S_OK;
    }
    KRVN_CATCH_RETURN()
}

HRESULT LoadConnectCheckDelay(LONG& delaySeconds) {
    try {
        CSharedKey key;
        Check(key.Open(kAlarmKeyPath));
        CBuffer form = ReadValue(key, kCheckDelayValue);
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
