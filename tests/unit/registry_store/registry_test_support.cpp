#include "tests/unit/registry_store/registry_test_support.h"

#include <sddl.h>

#include <ostream>

#include "common/unique_handle.h"
#include "config/typed_blob_part.h"

namespace krvn_test {

namespace {

void DeleteAlarmTree() {
    const LONG status = ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kMainKey);
    ASSERT_TRUE(status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) << status;
}

} // namespace

void SetDacl(const std::wstring& key, const wchar_t* sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1,
                                                                       &descriptor, nullptr));
    const auto freeDescriptor = KRVN::scope_exit([&] { ::LocalFree(descriptor); });
    KRVN::unique_hkey handle;
    ASSERT_EQ(ERROR_SUCCESS,
              ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, WRITE_DAC, handle.put()));
    ASSERT_EQ(ERROR_SUCCESS,
              ::RegSetKeySecurity(handle.get(), DACL_SECURITY_INFORMATION, descriptor));
}

std::wstring DaclText(const std::wstring& key) {
    KRVN::unique_hkey handle;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, READ_CONTROL, handle.put()) !=
        ERROR_SUCCESS) {
        return L"<no key>";
    }
    BYTE descriptor[1024];
    DWORD size = sizeof descriptor;
    wchar_t* text = nullptr;
    if (::RegGetKeySecurity(handle.get(), DACL_SECURITY_INFORMATION, descriptor, &size) !=
            ERROR_SUCCESS ||
        !::ConvertSecurityDescriptorToStringSecurityDescriptorW(
            descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr)) {
        return L"<unreadable>";
    }
    const std::wstring result(text);
    ::LocalFree(text);
    return result;
}

void RegistryTest::SetUp() {
    DeleteAlarmTree();
}

void RegistryTest::TearDown() {
    DeleteAlarmTree();
}

void WriteValue(const wchar_t* key, const wchar_t* name, DWORD type, const void* data, DWORD size) {
    KRVN::unique_hkey handle;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0,
                                               KEY_SET_VALUE, nullptr, handle.put(), nullptr));
    ASSERT_EQ(ERROR_SUCCESS,
              ::RegSetValueExW(handle.get(), name, 0, type, static_cast<const BYTE*>(data), size));
}

void WriteValue(const wchar_t* key, const wchar_t* name, DWORD type, const Bytes& data) {
    WriteValue(key, name, type, data.data(), static_cast<DWORD>(data.size()));
}

StoredValue ReadStored(const wchar_t* key, const wchar_t* name) {
    StoredValue value;
    KRVN::unique_hkey handle;
    value.status = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, handle.put());
    if (value.status != ERROR_SUCCESS)
        return value;
    DWORD size = 0;
    value.status = ::RegQueryValueExW(handle.get(), name, nullptr, &value.type, nullptr, &size);
    if (value.status != ERROR_SUCCESS)
        return value;
    value.data.resize(size);
    value.status =
        ::RegQueryValueExW(handle.get(), name, nullptr, &value.type, value.data.data(), &size);
    value.data.resize(size);
    return value;
}

DenySetValue::DenySetValue(const wchar_t* key) : m_key(key) {
    SetDacl(m_key, L"D:(D;;0x2;;;WD)(A;;KA;;;WD)");
    m_denied = true;
}

void DenySetValue::Lift() {
    if (m_denied) {
        m_denied = false;
        SetDacl(m_key, L"D:(A;;KA;;;WD)");
    }
}

ImageBuilder& ImageBuilder::Int(std::int32_t value) {
    KRVN::GetPartValue(m_blob, m_next++)->SetInt(value);
    return *this;
}

ImageBuilder& ImageBuilder::Text(const std::wstring& text) {
    KRVN::GetPartValue(m_blob, m_next++)->SetWString(text);
    return *this;
}

ImageBuilder& ImageBuilder::Blob(const Bytes& bytes) {
    KRVN::GetPartValue(m_blob, m_next++)->SetBlob(bytes.data(), bytes.size());
    return *this;
}

Bytes ImageBuilder::Image() {
    KRVN::CBuffer image;
    m_blob.WriteTo(image);
    return ToBytes(image);
}

Bytes Utf16(const std::wstring& text) {
    Bytes bytes;
    for (const wchar_t unit : text) {
        bytes.push_back(static_cast<unsigned char>(unit));
        bytes.push_back(static_cast<unsigned char>(unit >> 8));
    }
    return bytes;
}

void PrintTo(const ServerFields& server, std::ostream* out) {
    *out << "{" << ::testing::PrintToString(server.address) << ", "
         << ::testing::PrintToString(server.password) << ", " << server.port << "}";
}

KRVN::ServerRecord NewServer(const wchar_t* address, const wchar_t* password, ULONG port) {
    return {address ? address : L"", SecretWString(std::wstring(password ? password : L"")), port};
}

std::vector<ServerFields> FieldsOf(const KRVN::ServerRecordList& servers) {
    std::vector<ServerFields> fields;
    for (const KRVN::ServerRecord& server : servers)
        fields.push_back({server.address, server.password.Text(), server.port});
    return fields;
}

HRESULT Save(const KRVN::ServerRecordList& servers) {
    return KRVN::SaveServerList(servers);
}

} // namespace krvn_test
