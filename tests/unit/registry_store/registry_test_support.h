#pragma once
// What the registry store tests share: a clean HKLM\SOFTWARE\Corvane\Alarm
// tree around every test, plain registry calls that put and look at stored
// bytes without the code under test, typed-blob images made part by part,
// and server records.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "config/registry_store.h"
#include "config/typed_blob.h"
#include "tests/unit/config/image_bytes.h"

namespace krvn_test {

inline constexpr wchar_t kMainKey[] = L"SOFTWARE\\Corvane\\Alarm";
inline constexpr wchar_t kLegacyListKey[] =
    L"SOFTWARE\\Corvane\\Alarm\\Plugins\\QNNotifier\\Parameters";
inline constexpr wchar_t kLegacyPortKey[] =
    L"SOFTWARE\\Corvane\\Alarm\\Plugins\\RBEvents\\Parameters";

// Replaces the DACL of HKLM\key.
void SetDacl(const std::wstring& key, const wchar_t* sddl);
// The DACL of HKLM\key as SDDL.
std::wstring DaclText(const std::wstring& key);

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
};

// Creates the key when missing.
void WriteValue(const wchar_t* key, const wchar_t* name, DWORD type, const void* data, DWORD size);
void WriteValue(const wchar_t* key, const wchar_t* name, DWORD type, const Bytes& data);

struct StoredValue {
    LONG status = ERROR_FILE_NOT_FOUND;
    DWORD type = REG_NONE;
    Bytes data;
};
StoredValue ReadStored(const wchar_t* key, const wchar_t* name);

// While it lives, nobody may set values on the key (it can still be read and
// deleted); Lift ends that early.
class DenySetValue {
public:
    explicit DenySetValue(const wchar_t* key);
    DenySetValue(const DenySetValue&) = delete;
    DenySetValue& operator=(const DenySetValue&) = delete;
    ~DenySetValue() { Lift(); }
    void Lift();

private:
    std::wstring m_key;
    bool m_denied = false;
};

// A typed-blob image made by setting parts 0, 1, 2, ... in turn.
class ImageBuilder {
public:
    ImageBuilder& Int(std::int32_t value);
    ImageBuilder& Text(const std::wstring& text);
    ImageBuilder& Blob(const Bytes& bytes);
    Bytes Image();

private:
    KRVN::CTypedBlob m_blob;
    std::uint32_t m_next = 0;
};

// Text as its UTF-16LE code units.
Bytes Utf16(const std::wstring& text);

struct ServerFields {
    std::wstring address;
    std::wstring password;
    ULONG port = 0;
    bool operator==(const ServerFields& other) const {
        return address == other.address && password == other.password && port == other.port;
    }
};
void PrintTo(const ServerFields& server, std::ostream* out);

// A server record; null strings are empty.
KRVN::ServerRecord NewServer(const wchar_t* address, const wchar_t* password, ULONG port);
std::vector<ServerFields> FieldsOf(const KRVN::ServerRecordList& servers);
HRESULT Save(const KRVN::ServerRecordList& servers);

} // namespace krvn_test
