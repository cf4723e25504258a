// The store functions against the registry of the test prefix: the server
// list image, the move of the earlier plug-in layout, the port name and the
// check delay.

#include <gtest/gtest.h>

#include <sddl.h>

#include <algorithm>
#include <iterator>

#include "config/alarm_key_security.h"
#include "config/registry_store.h"
#include "config/typed_blob_part.h"
#include "tests/unit/registry_store/registry_test_support.h"

namespace krvn_test {
namespace {

using KRVN::ServerRecordList;

constexpr HRESULT kNotFound = static_cast<HRESULT>(0x80070002);

KRVN::CTypedBlob StoredImage(const wchar_t* key) {
    const StoredValue stored = ReadStored(key, L"ServerConfig");
    EXPECT_EQ(ERROR_SUCCESS, stored.status);
    EXPECT_EQ(static_cast<DWORD>(REG_BINARY), stored.type);
    return KRVN::CTypedBlob(stored.data.data(), stored.data.size());
}

std::wstring TextPart(KRVN::CTypedBlob& blob, std::uint32_t index) {
    return KRVN::GetPartValue(blob, index)->GetWString();
}

Bytes BlobPart(KRVN::CTypedBlob& blob, std::uint32_t index) {
    return ToBytes(KRVN::GetPartValue(blob, index)->GetBlob());
}

Bytes LegacyList() {
    return ImageBuilder().Int(2).Text(L"srv1").Blob(Utf16(L"p1")).Text(L"srv2").Blob({}).Image();
}

const std::vector<ServerFields> kLegacyServers = {{L"srv1", L"p1", 0}, {L"srv2", L"", 0}};

bool KeyExists(const std::wstring& key) {
    KRVN::unique_hkey handle;
    return ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, handle.put()) ==
           ERROR_SUCCESS;
}

// What ProtectAlarmKey hands SetNamedSecurityInfoW, which then runs as asked.
struct DaclCall {
    std::wstring object;
    SE_OBJECT_TYPE type;
    SECURITY_INFORMATION info;
    bool daclAlone;
    std::wstring dacl;
};
std::vector<DaclCall> g_daclCalls;

DWORD WINAPI RecordDacl(LPWSTR object, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID owner,
                        PSID group, PACL dacl, PACL sacl) {
    SECURITY_DESCRIPTOR descriptor;
    ::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    ::SetSecurityDescriptorDacl(&descriptor, TRUE, dacl, FALSE);
    KRVN::unique_hlocal_string text;
    ::ConvertSecurityDescriptorToStringSecurityDescriptorW(
        &descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, text.put(), nullptr);
    g_daclCalls.push_back(
        {object, type, info, dacl && !owner && !group && !sacl, text ? text.get() : L""});
    return ::SetNamedSecurityInfoW(object, type, info, owner, group, dacl, sacl);
}

using ServerListTest = RegistryTest;

TEST_F(ServerListTest, NothingStoredLoadsNothing) {
    ServerRecordList servers;
    EXPECT_EQ(kNotFound, KRVN::LoadServerList(servers));
    EXPECT_TRUE(servers.empty());
}

TEST_F(ServerListTest, EmptyListIsTheTwoPartImage) {
    ASSERT_EQ(S_OK, Save({}));
    const StoredValue stored = ReadStored(kMainKey, L"ServerConfig");
    EXPECT_EQ(static_cast<DWORD>(REG_BINARY), stored.type);
    EXPECT_EQ(EmptyServerListImage(), stored.data);

    ServerRecordList servers;
    EXPECT_EQ(S_OK, KRVN::LoadServerList(servers));
    EXPECT_TRUE(servers.empty());
}

TEST_F(ServerListTest, OnlySystemAndAdministratorsMayOpenTheKey) {
    // The ACEs may come back with the inherited-rights flag added.
    const auto protectedAlone = [](const std::wstring& dacl) {
        const size_t aces = dacl.find(L'(');
        return dacl.compare(0, 2, L"D:") == 0 && dacl.substr(0, aces).find(L'P') != dacl.npos &&
               dacl.substr(aces) == L"(A;OICI;KA;;;SY)(A;OICI;KA;;;BA)";
    };
    // A key the store makes is born protected.
    ASSERT_EQ(S_OK, Save({}));
    EXPECT_TRUE(protectedAlone(DaclText(kMainKey))) << DaclText(kMainKey);
    EXPECT_EQ(EmptyServerListImage(), ReadStored(kMainKey, L"ServerConfig").data);

    // A key loosened meanwhile is protected again, its values untouched.
    SetDacl(kMainKey, L"D:(A;OICI;KA;;;WD)(A;OICI;KR;;;BU)");
    ASSERT_EQ(S_OK, KRVN::ProtectAlarmKey());
    EXPECT_TRUE(protectedAlone(DaclText(kMainKey))) << DaclText(kMainKey);
    EXPECT_EQ(EmptyServerListImage(), ReadStored(kMainKey, L"ServerConfig").data);
}

TEST_F(ServerListTest, EveryKeyBelowTheSettingsKeyHoldsOnlyWhatItInherits) {
    // Left open to users by the earlier layout; one of them protected, which
    // a propagating set of the key above would pass over.
    WriteValue(kLegacyPortKey, L"COM", REG_SZ, Utf16(std::wstring(L"COM3\0", 5)));
    WriteValue(kLegacyListKey, L"ServerConfig", REG_BINARY, LegacyList());
    SetDacl(kLegacyPortKey, L"D:P(A;OICI;KA;;;BU)(A;OICI;KA;;;WD)");
    SetDacl(kLegacyListKey, L"D:(A;;KA;;;BU)(A;;KA;;;WD)");
    g_daclCalls.clear();
    ASSERT_EQ(S_OK, KRVN::ProtectAlarmKey(&RecordDacl));

    const std::wstring machine = L"MACHINE\\";
    std::vector<std::wstring> handed;
    for (const DaclCall& call : g_daclCalls) {
        const std::wstring key = call.object.substr(machine.size());
        SCOPED_TRACE(call.object);
        EXPECT_EQ(machine, call.object.substr(0, machine.size()));
        const std::wstring parent = key.substr(0, key.rfind(L'\\'));
        EXPECT_TRUE(parent == kMainKey ||
                    std::find(handed.begin(), handed.end(), parent) != handed.end());
        EXPECT_EQ(SE_REGISTRY_KEY, call.type);
        EXPECT_EQ(static_cast<SECURITY_INFORMATION>(DACL_SECURITY_INFORMATION |
                                                    UNPROTECTED_DACL_SECURITY_INFORMATION),
                  call.info);
        EXPECT_TRUE(call.daclAlone);
        EXPECT_EQ(L"D:(A;OICIID;KA;;;SY)(A;OICIID;KA;;;BA)", call.dacl);
        handed.push_back(key);
    }
    const std::wstring plugins = std::wstring(kMainKey) + L"\\Plugins";
    std::vector<std::wstring> expected = {plugins, plugins + L"\\QNNotifier", kLegacyListKey,
                                          plugins + L"\\RBEvents", kLegacyPortKey};
    std::sort(handed.begin(), handed.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, handed);
}

TEST_F(ServerListTest, PasswordsAndPortsAreStoredAsText) {
    // A password with a NUL inside.
    const KRVN::ServerRecord nulPassword{L"gamma", SecretWString(std::wstring(L"ab\0cd", 5)),
                                         0xFFFFFFFF};
    ASSERT_EQ(S_OK, Save({NewServer(L"alpha", L"", 0), NewServer(L"beta", nullptr, 7),
                          NewServer(nullptr, L"pw", 1), nulPassword}));

    KRVN::CTypedBlob image = StoredImage(kMainKey);
    ASSERT_EQ(14u, image.PartCount());
    EXPECT_EQ(L"alrm_4.2", TextPart(image, 0));
    EXPECT_EQ(4, KRVN::GetPartValue(image, 1)->GetInt());
    EXPECT_EQ(Bytes{}, BlobPart(image, 3));
    EXPECT_EQ(L"0", TextPart(image, 4));
    EXPECT_EQ(Bytes{}, BlobPart(image, 6));
    EXPECT_EQ(L"", TextPart(image, 8));
    EXPECT_EQ(Utf16(L"ab"), BlobPart(image, 12));
    EXPECT_EQ(L"-1", TextPart(image, 13));

    ServerRecordList servers;
    ASSERT_EQ(S_OK, KRVN::LoadServerList(servers));
    const std::vector<ServerFields> expected = {
        {L"alpha", L"", 0}, {L"beta", L"", 7}, {L"", L"pw", 1}, {L"gamma", L"ab", 0xFFFFFFFF}};
    EXPECT_EQ(expected, FieldsOf(servers));
}

TEST_F(ServerListTest, ServersRoundTripInTheGivenOrder) {
    ASSERT_EQ(S_OK, Save({NewServer(L"zeta", L"z", 5000), NewServer(L"Alpha", L"secret", 0),
                          NewServer(L"mid", L"m", 80)}));
    ServerRecordList servers;
    ASSERT_EQ(S_OK, KRVN::LoadServerList(servers));
    const std::vector<ServerFields> expected = {
        {L"zeta", L"z", 5000}, {L"Alpha", L"secret", 0}, {L"mid", L"m", 80}};
    EXPECT_EQ(expected, FieldsOf(servers));
}

TEST_F(ServerListTest, AnyTagLoadsAndPortsReadLeadingDigits) {
    ImageBuilder image;
    image.Text(L"other").Int(4);
    for (const wchar_t* port : {L"x12", L"12x", L" -7", L""})
        image.Text(port).Blob({}).Text(port);
    WriteValue(kMainKey, L"ServerConfig", REG_BINARY, image.Image());

    ServerRecordList servers;
    ASSERT_EQ(S_OK, KRVN::LoadServerList(servers));
    const std::vector<ServerFields> expected = {
        {L"x12", L"", 0}, {L"12x", L"", 12}, {L" -7", L"", 0xFFFFFFF9}, {L"", L"", 0}};
    EXPECT_EQ(expected, FieldsOf(servers));
}

TEST_F(ServerListTest, LegacyListMovesToTheCurrentImage) {
    WriteValue(kLegacyListKey, L"ServerConfig", REG_BINARY, LegacyList());
    ServerRecordList servers;
    ASSERT_EQ(S_OK, KRVN::LoadServerList(servers));
    EXPECT_EQ(kLegacyServers, FieldsOf(servers));

    EXPECT_EQ(static_cast<LONG>(ERROR_FILE_NOT_FOUND),
              ReadStored(kLegacyListKey, L"ServerConfig").status);
    KRVN::CTypedBlob image = StoredImage(kMainKey);
    ASSERT_EQ(8u, image.PartCount());
    EXPECT_EQ(L"alrm_4.2", TextPart(image, 0));
    EXPECT_EQ(L"srv2", TextPart(image, 5));
    EXPECT_EQ(L"0", TextPart(image, 7));

    ServerRecordList again;
    ASSERT_EQ(S_OK, KRVN::LoadServerList(again));
    EXPECT_EQ(kLegacyServers, FieldsOf(again));
}

TEST_F(ServerListTest, MovedLegacyKeysGoUnlessTheyHoldMore) {
    WriteValue(kLegacyListKey, L"ServerConfig", REG_BINARY, LegacyList());
    WriteValue(kLegacyPortKey, L"COM", REG_SZ, Utf16(std::wstring(L"COM3\0", 5)));
    WriteValue(kLegacyPortKey, L"Other", REG_DWORD, Words({1}));
    ServerRecordList servers;
    ASSERT_EQ(S_OK, KRVN::LoadServerList(servers));
    EXPECT_FALSE(KeyExists(std::wstring(kMainKey) + L"\\Plugins\\QNNotifier"));
    EXPECT_TRUE(KeyExists(kLegacyPortKey));

    ASSERT_EQ(ERROR_SUCCESS, ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kLegacyPortKey, L"Other"));
    ASSERT_EQ(S_OK, KRVN::SaveComPort(L"COM4"));
    EXPECT_FALSE(KeyExists(std::wstring(kMainKey) + L"\\Plugins"));
    EXPECT_EQ(Utf16(std::wstring(L"COM4\0", 5)), ReadStored(kMainKey, L"COM").data);
}

TEST_F(ServerListTest, FailedSaveOfAMovedListKeepsTheLegacyList) {
    WriteValue(kLegacyListKey, L"ServerConfig", REG_BINARY, LegacyList());
    DenySetValue denied(kMainKey);
    ServerRecordList servers;
    ASSERT_EQ(S_OK, KRVN::LoadServerList(servers));
    EXPECT_EQ(kLegacyServers, FieldsOf(servers));
    EXPECT_EQ(LegacyList(), ReadStored(kLegacyListKey, L"ServerConfig").data);
    EXPECT_EQ(static_cast<LONG>(ERROR_FILE_NOT_FOUND),
              ReadStored(kMainKey, L"ServerConfig").status);

    denied.Lift();
    ServerRecordList next;
    ASSERT_EQ(S_OK, KRVN::LoadServerList(next));
    EXPECT_EQ(kLegacyServers, FieldsOf(next));
    EXPECT_EQ(static_cast<LONG>(ERROR_FILE_NOT_FOUND),
              ReadStored(kLegacyListKey, L"ServerConfig").status);
}

TEST_F(ServerListTest, LaterSaveRetiresALegacyListThatCouldNotMove) {
    WriteValue(kLegacyListKey, L"ServerConfig", REG_BINARY, LegacyList());
    {
        DenySetValue denied(kMainKey);
        ServerRecordList servers;
        ASSERT_EQ(S_OK, KRVN::LoadServerList(servers));
    }
    ASSERT_EQ(S_OK, Save({NewServer(L"new", L"n", 1)}));
    EXPECT_EQ(static_cast<LONG>(ERROR_FILE_NOT_FOUND),
              ReadStored(kLegacyListKey, L"ServerConfig").status);

    ServerRecordList servers;
    ASSERT_EQ(S_OK, KRVN::LoadServerList(servers));
    EXPECT_EQ((std::vector<ServerFields>{{L"new", L"n", 1}}), FieldsOf(servers));
}

TEST_F(ServerListTest, MalformedImagesFailWithoutDeliveringAnything) {
    const Bytes good =
        ImageBuilder().Text(L"alrm_4.2").Int(1).Text(L"a").Blob({}).Text(L"1").Image();
    auto patched = [&](std::size_t offset, std::uint32_t word) {
        Bytes image = good;
        const Bytes bytes = Words({word});
        std::copy(bytes.begin(), bytes.end(), image.begin() + offset);
        return image;
    };
    struct Case {
        const char* what;
        DWORD type;
        Bytes data;
    };
    const Case cases[] = {
        {"truncated", REG_BINARY, Bytes(good.begin(), good.begin() + 20)},
        {"descriptor past the end", REG_BINARY, patched(8, 0x7FFF)},
        {"data past the end", REG_BINARY, patched(28, 0x7FFF)},
        {"more servers than parts", REG_BINARY,
         ImageBuilder().Text(L"alrm_4.2").Int(2).Text(L"a").Blob({}).Text(L"1").Image()},
        {"tag not text", REG_BINARY, ImageBuilder().Int(0).Int(0).Image()},
        {"count not eInt", REG_BINARY, ImageBuilder().Text(L"t").Text(L"0").Image()},
        {"address not text", REG_BINARY,
         ImageBuilder().Text(L"t").Int(1).Blob({}).Blob({}).Text(L"1").Image()},
        {"port not text", REG_BINARY,
         ImageBuilder().Text(L"t").Int(1).Text(L"a").Blob({}).Int(1).Image()},
        {"text value", REG_SZ, Utf16(std::wstring(L"x\0", 2))},
        {"number value", REG_DWORD, Words({1})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteValue(kMainKey, L"ServerConfig", c.type, c.data);
        ServerRecordList servers;
        EXPECT_EQ(E_INVALIDARG, KRVN::LoadServerList(servers));
        EXPECT_TRUE(servers.empty());
    }
}

TEST_F(ServerListTest, MalformedLegacyListLeavesTheCurrentOneAlone) {
    WriteValue(kLegacyListKey, L"ServerConfig", REG_BINARY,
               ImageBuilder().Int(2).Text(L"old").Blob({}).Image());
    ASSERT_EQ(S_OK, Save({NewServer(L"current", L"c", 2)}));
    ServerRecordList servers;
    ASSERT_EQ(S_OK, KRVN::LoadServerList(servers));
    EXPECT_EQ((std::vector<ServerFields>{{L"current", L"c", 2}}), FieldsOf(servers));
}

using ComPortTest = RegistryTest;

bool AnyName(const std::wstring&, const std::wstring&) {
    return true;
}

TEST_F(ComPortTest, NameInThePluginKeyMovesAndWins) {
    EXPECT_EQ(L"", KRVN::LoadComPort(AnyName));
    WriteValue(kLegacyPortKey, L"COM", REG_SZ, Utf16(std::wstring(L"COM3\0", 5)));
    EXPECT_EQ(L"COM3", KRVN::LoadComPort(AnyName));
    EXPECT_EQ(static_cast<LONG>(ERROR_FILE_NOT_FOUND), ReadStored(kLegacyPortKey, L"COM").status);
    const StoredValue moved = ReadStored(kMainKey, L"COM");
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), moved.type);
    EXPECT_EQ(Utf16(std::wstring(L"COM3\0", 5)), moved.data);

    WriteValue(kLegacyPortKey, L"COM", REG_SZ, Utf16(std::wstring(L"COM4\0", 5)));
    EXPECT_EQ(L"COM4", KRVN::LoadComPort(AnyName));
    EXPECT_EQ(Utf16(std::wstring(L"COM4\0", 5)), ReadStored(kMainKey, L"COM").data);
    EXPECT_EQ(L"COM4", KRVN::LoadComPort(AnyName));
}

TEST_F(ComPortTest, SavedNameReadsBackExactly) {
    ASSERT_EQ(S_OK, KRVN::SaveComPort(L"COM12"));
    EXPECT_EQ(Utf16(std::wstring(L"COM12\0", 6)), ReadStored(kMainKey, L"COM").data);
    const std::wstring name = KRVN::LoadComPort(AnyName);
    EXPECT_EQ(L"COM12", name);
    EXPECT_EQ(5u, name.size());
}

TEST_F(ComPortTest, FailedMoveKeepsThePluginName) {
    WriteValue(kLegacyPortKey, L"COM", REG_SZ, Utf16(std::wstring(L"COM5\0", 5)));
    {
        DenySetValue denied(kMainKey);
        EXPECT_EQ(L"COM5", KRVN::LoadComPort(AnyName));
        EXPECT_EQ(static_cast<LONG>(ERROR_SUCCESS), ReadStored(kLegacyPortKey, L"COM").status);
        EXPECT_EQ(static_cast<HRESULT>(0x80070005), KRVN::SaveComPort(L"COM6"));
    }
    EXPECT_EQ(L"COM5", KRVN::LoadComPort(AnyName));
    EXPECT_EQ(static_cast<LONG>(ERROR_FILE_NOT_FOUND), ReadStored(kLegacyPortKey, L"COM").status);
}

TEST_F(ComPortTest, FailedReadLeavesTheNameAlone) {
    std::wstring name = L"keep";
    EXPECT_FALSE(KRVN::ReadComPort(name));
    WriteValue(kMainKey, L"COM", REG_DWORD, Words({3}));
    EXPECT_FALSE(KRVN::ReadComPort(name));
    EXPECT_EQ(L"keep", name);
}

using CheckDelayTest = RegistryTest;

TEST_F(CheckDelayTest, OnlyADwordChangesTheDelay) {
    LONG delay = 60;
    EXPECT_EQ(kNotFound, KRVN::LoadConnectCheckDelay(delay));
    WriteValue(kMainKey, L"Other", REG_DWORD, Words({1}));
    EXPECT_EQ(kNotFound, KRVN::LoadConnectCheckDelay(delay));
    WriteValue(kMainKey, L"ConnectCheckDelay", REG_SZ, Utf16(std::wstring(L"5\0", 2)));
    EXPECT_EQ(E_INVALIDARG, KRVN::LoadConnectCheckDelay(delay));
    EXPECT_EQ(60, delay);

    WriteValue(kMainKey, L"ConnectCheckDelay", REG_DWORD, Words({5}));
    EXPECT_EQ(S_OK, KRVN::LoadConnectCheckDelay(delay));
    EXPECT_EQ(5, delay);
}

} // namespace
} // namespace krvn_test
