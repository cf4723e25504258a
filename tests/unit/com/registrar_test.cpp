// Registration writes exactly the contract's keys and values under
// HKEY_CLASSES_ROOT of the test prefix, and unregistration takes them away
// again. Expected entries are written out here, not taken from the data
// the registrar uses.

#include "com/registrar.h"
#include "common/unique_handle.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using KRVN::unique_hkey;
using KRVN::com::Registrar;

const std::wstring kAppId = L"{D731F976-9C5E-4E8A-B8D7-9B030B4C90A7}";
const std::wstring kLibId = L"{74C3D34A-2C32-4987-862B-BC506646A24E}";

struct Class {
    std::wstring clsid;
    std::wstring name;
};
const std::vector<Class> kClasses = {
    {L"{03CE622A-69AF-4F70-A170-D0A2CB0631F0}", L"QNAlarm"},
    {L"{84FCF66D-791D-4245-AA61-B10FF171C2B2}", L"QNServer"},
    {L"{B9B4F10E-E56A-4C54-AD6B-B6C9D28548A2}", L"QNServers"},
};

std::vector<std::wstring> Roots() {
    std::vector<std::wstring> roots = {L"AppID\\" + kAppId, L"AppID\\Tolvane.EXE"};
    for (const Class& cls : kClasses) {
        roots.push_back(L"Tolvane." + cls.name + L".1");
        roots.push_back(L"Tolvane." + cls.name);
        roots.push_back(L"CLSID\\" + cls.clsid);
    }
    return roots;
}

bool KeyExists(const std::wstring& path) {
    unique_hkey key;
    return ::RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, key.put()) ==
           ERROR_SUCCESS;
}

// One line per key ("path") and per value ("path|name=text"; "@" is the
// default value, a value that is not REG_SZ shows its type number).
void Dump(const std::wstring& path, std::vector<std::wstring>& lines) {
    unique_hkey key;
    if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
        return;
    }
    lines.push_back(path);
    for (DWORD i = 0; i < 64; ++i) {
        wchar_t name[256];
        DWORD nameLength = 256;
        DWORD type = 0;
        BYTE data[2048];
        DWORD dataBytes = sizeof(data) - sizeof(wchar_t);
        if (::RegEnumValueW(key.get(), i, name, &nameLength, nullptr, &type, data, &dataBytes) !=
            ERROR_SUCCESS) {
            break;
        }
        data[dataBytes] = 0;
        data[dataBytes + 1] = 0;
        const std::wstring valueName = nameLength ? std::wstring(name, nameLength) : L"@";
        const std::wstring text = type == REG_SZ ? reinterpret_cast<const wchar_t*>(data)
                                                 : L"type " + std::to_wstring(type);
        lines.push_back(path + L"|" + valueName + L"=" + text);
    }
    for (DWORD i = 0; i < 64; ++i) {
        wchar_t name[256];
        DWORD nameLength = 256;
        if (::RegEnumKeyExW(key.get(), i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        Dump(path + L"\\" + name, lines);
    }
}

std::vector<std::wstring> DumpAll() {
    std::vector<std::wstring> lines;
    for (const std::wstring& root : Roots()) {
        Dump(root, lines);
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

std::vector<std::wstring> Expected(const std::wstring& module) {
    std::vector<std::wstring> lines = {
        L"AppID\\" + kAppId,
        L"AppID\\" + kAppId + L"|@=Tolvane",
        L"AppID\\" + kAppId + L"|AccessPermission=type 3",
        L"AppID\\" + kAppId + L"|LaunchPermission=type 3",
        L"AppID\\Tolvane.EXE",
        L"AppID\\Tolvane.EXE|AppID=" + kAppId,
    };
    for (const Class& cls : kClasses) {
        const std::wstring description = cls.name + L" Class";
        const std::wstring progId = L"Tolvane." + cls.name + L".1";
        const std::wstring independent = L"Tolvane." + cls.name;
        const std::wstring key = L"CLSID\\" + cls.clsid;
        const std::vector<std::wstring> entries = {
            progId,
            progId + L"|@=" + description,
            progId + L"\\CLSID",
            progId + L"\\CLSID|@=" + cls.clsid,
            independent,
            independent + L"|@=" + description,
            independent + L"\\CLSID",
            independent + L"\\CLSID|@=" + cls.clsid,
            independent + L"\\CurVer",
            independent + L"\\CurVer|@=" + progId,
            key,
            key + L"|@=" + description,
            key + L"|AppID=" + kAppId,
            key + L"\\ProgID",
            key + L"\\ProgID|@=" + progId,
            key + L"\\VersionIndependentProgID",
            key + L"\\VersionIndependentProgID|@=" + independent,
            key + L"\\Programmable",
            key + L"\\LocalServer32",
            key + L"\\LocalServer32|@=" + module,
            key + L"\\TypeLib",
            key + L"\\TypeLib|@=" + kLibId,
        };
        lines.insert(lines.end(), entries.begin(), entries.end());
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

void WriteKey(const std::wstring& path, const wchar_t* valueName, const std::wstring& value) {
    unique_hkey key;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0,
                                               KEY_WRITE, nullptr, key.put(), nullptr));
    ASSERT_EQ(ERROR_SUCCESS,
              ::RegSetValueExW(key.get(), valueName, 0, REG_SZ,
                               reinterpret_cast<const BYTE*>(value.c_str()),
                               static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))));
}

class Registration : public ::testing::Test {
protected:
    void SetUp() override { Unregister(); }
    void TearDown() override { Unregister(); }
    void Unregister() {
        EXPECT_EQ(S_OK, registrar.UnregisterServer());
        EXPECT_EQ(S_OK, registrar.UnregisterAppId());
    }

    Registrar registrar;
    const std::wstring module = Registrar::ModulePath();
};

TEST_F(Registration, WritesExactlyTheContractEntriesAndReplacesOldClassKeys) {
    // Left from another registration: must not survive.
    const std::wstring alarmKey = L"CLSID\\" + kClasses[0].clsid;
    WriteKey(alarmKey, L"ThreadingModel", L"Both");
    WriteKey(alarmKey + L"\\InprocServer32", nullptr, L"C:\\old\\alarm.dll");

    ASSERT_EQ(S_OK, registrar.RegisterAppId());
    ASSERT_EQ(S_OK, registrar.RegisterServer(module));
    EXPECT_EQ(Expected(module), DumpAll());
    // The library's own locale, and the neutral one Wine's marshaller asks for.
    EXPECT_TRUE(KeyExists(L"TypeLib\\" + kLibId + L"\\1.0\\409\\win64"));
    EXPECT_TRUE(KeyExists(L"TypeLib\\" + kLibId + L"\\1.0\\0\\win64"));

    // Registering again changes nothing.
    ASSERT_EQ(S_OK, registrar.RegisterAppId());
    ASSERT_EQ(S_OK, registrar.RegisterServer(module));
    EXPECT_EQ(Expected(module), DumpAll());
}

TEST_F(Registration, UnregistrationRemovesEverythingButTheRootKeys) {
    ASSERT_EQ(S_OK, registrar.RegisterAppId());
    ASSERT_EQ(S_OK, registrar.SetLocalService(L"Tolvane"));
    ASSERT_EQ(S_OK, registrar.RegisterServer(module));

    EXPECT_EQ(S_OK, registrar.UnregisterServer());
    EXPECT_EQ(S_OK, registrar.UnregisterAppId());
    EXPECT_EQ(std::vector<std::wstring>(), DumpAll());
    EXPECT_FALSE(KeyExists(L"TypeLib\\" + kLibId + L"\\1.0"));
    EXPECT_TRUE(KeyExists(L"AppID"));
    EXPECT_TRUE(KeyExists(L"CLSID"));

    // What is already gone is not a failure.
    EXPECT_EQ(S_OK, registrar.UnregisterServer());
    EXPECT_EQ(S_OK, registrar.UnregisterAppId());
    EXPECT_EQ(S_OK, registrar.DeleteLocalService());
}

TEST_F(Registration, LocalServiceValueIsSetReadAndDeleted) {
    ASSERT_EQ(S_OK, registrar.RegisterAppId());
    std::wstring name = L"stale";
    EXPECT_EQ(S_FALSE, registrar.GetLocalService(name));
    EXPECT_EQ(L"", name);

    ASSERT_EQ(S_OK, registrar.SetLocalService(L"Tolvane"));
    EXPECT_EQ(S_OK, registrar.GetLocalService(name));
    EXPECT_EQ(L"Tolvane", name);
    std::vector<std::wstring> lines;
    Dump(L"AppID\\" + kAppId, lines);
    EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(),
                                     L"AppID\\" + kAppId + L"|LocalService=Tolvane"));

    EXPECT_EQ(S_OK, registrar.DeleteLocalService());
    EXPECT_EQ(S_FALSE, registrar.GetLocalService(name));
    EXPECT_EQ(S_OK, registrar.DeleteLocalService());
    EXPECT_TRUE(KeyExists(L"AppID\\" + kAppId)) << "only the value goes";
}

// The AppID's permissions as SDDL, or what went wrong reading them.
std::wstring Permission(const wchar_t* name) {
    BYTE descriptor[1024];
    DWORD size = sizeof descriptor;
    const std::wstring path = L"AppID\\" + kAppId;
    if (::RegGetValueW(HKEY_CLASSES_ROOT, path.c_str(), name, RRF_RT_REG_BINARY, nullptr,
                       descriptor, &size) != ERROR_SUCCESS) {
        return L"<missing>";
    }
    wchar_t* text = nullptr;
    const SECURITY_INFORMATION parts =
        OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    if (!::IsValidSecurityDescriptor(descriptor) ||
        !::ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, parts,
                                                                &text, nullptr)) {
        return L"<not a descriptor>";
    }
    const std::wstring result(text);
    ::LocalFree(text);
    return result;
}

TEST_F(Registration, LaunchAndCallAreForLocalSystemAdministratorsAndInteractiveUsers) {
    ASSERT_EQ(S_OK, registrar.RegisterAppId());
    // CC, DC and SW: COM_RIGHTS_EXECUTE, _EXECUTE_LOCAL and _ACTIVATE_LOCAL.
    const wchar_t expected[] = L"O:BAG:BAD:(A;;CCDCSW;;;SY)(A;;CCDCSW;;;BA)(A;;CCDCSW;;;IU)";
    EXPECT_EQ(expected, Permission(L"LaunchPermission"));
    EXPECT_EQ(expected, Permission(L"AccessPermission"));
    EXPECT_EQ(S_OK, registrar.UnregisterAppId());
    EXPECT_EQ(L"<missing>", Permission(L"AccessPermission"));
}

// An unquoted path with a blank would let COM start "C:\Program.exe".
TEST_F(Registration, ServerPathWithABlankIsQuoted) {
    ASSERT_EQ(S_OK, registrar.RegisterClasses(L"C:\\Program Files\\Corvane\\Tolvane.exe"));
    std::vector<std::wstring> lines;
    Dump(L"CLSID\\" + kClasses[1].clsid + L"\\LocalServer32", lines);
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ(L"CLSID\\" + kClasses[1].clsid +
                  L"\\LocalServer32|@=\"C:\\Program Files\\Corvane\\Tolvane.exe\"",
              lines[1]);
}

} // namespace
