#include "tests/e2e/service/tolvane_service.h"

#include <tlhelp32.h>

#include "common/unique_handle.h"
#include "config/setting_names.h"
#include "tests/support/wait.h"

namespace krvn_e2e {

namespace {

constexpr wchar_t kSettingsKey[] = L"SOFTWARE\\Corvane\\Alarm";
constexpr wchar_t kServerListValue[] = L"ServerConfig";
constexpr DWORD kSwitchTimeoutMs = 90000;

KRVN::unique_hkey SettingsKey() {
    KRVN::unique_hkey key;
    ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                      key.put(), nullptr);
    return key;
}

KRVN::unique_schandle OpenTolvane(DWORD access) {
    const KRVN::unique_schandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        return KRVN::unique_schandle();
    }
    return KRVN::unique_schandle(::OpenServiceW(manager.get(), kServiceName, access));
}

KRVN::unique_hkey PolicyKey() {
    KRVN::unique_hkey key;
    ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, KRVN::kPolicyKeyPath, 0, nullptr, 0, KEY_ALL_ACCESS,
                      nullptr, key.put(), nullptr);
    return key;
}

} // namespace

ProgramResult RunTolvane(const std::wstring& switches) {
    return RunProgram(L"\"" KRVN_TOLVANE L"\" " + switches, kSwitchTimeoutMs);
}

::testing::AssertionResult Tolvane(const std::wstring& switches) {
    const ProgramResult run = RunTolvane(switches);
    if (!run.finished) {
        return ::testing::AssertionFailure() << "Tolvane.exe did not end\n" << run.output;
    }
    if (run.exitCode != 0) {
        return ::testing::AssertionFailure()
               << "Tolvane.exe ended with 0x" << std::hex << run.exitCode << "\n"
               << run.output;
    }
    return ::testing::AssertionSuccess();
}

DWORD ServiceState() {
    const KRVN::unique_schandle service = OpenTolvane(SERVICE_QUERY_STATUS);
    SERVICE_STATUS status{};
    if (!service || !::QueryServiceStatus(service.get(), &status)) {
        return 0;
    }
    return status.dwCurrentState;
}

bool WaitForServiceState(DWORD state, DWORD timeoutMs) {
    return krvn_test::WaitUntil([state] { return ServiceState() == state; }, timeoutMs, 20);
}

::testing::AssertionResult StopService(DWORD timeoutMs) {
    const KRVN::unique_schandle service = OpenTolvane(SERVICE_STOP | SERVICE_QUERY_STATUS);
    if (!service) {
        return ::testing::AssertionSuccess();
    }
    SERVICE_STATUS status{};
    if (!::ControlService(service.get(), SERVICE_CONTROL_STOP, &status) &&
        ::GetLastError() == ERROR_SERVICE_NOT_ACTIVE) {
        return ::testing::AssertionSuccess();
    }
    if (!WaitForServiceState(SERVICE_STOPPED, timeoutMs)) {
        return ::testing::AssertionFailure()
               << "the service did not stop; state " << ServiceState();
    }
    return ::testing::AssertionSuccess();
}

bool HasLocalService() {
    return ::RegGetValueW(HKEY_CLASSES_ROOT, kAppIdKey, L"LocalService", RRF_RT_REG_SZ, nullptr,
                          nullptr, nullptr) == ERROR_SUCCESS;
}

void ClearSettings() {
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kSettingsKey);
}

void SetConnectCheckDelay(DWORD seconds) {
    ::RegSetValueExW(SettingsKey().get(), L"ConnectCheckDelay", 0, REG_DWORD,
                     reinterpret_cast<const BYTE*>(&seconds), sizeof seconds);
}

void SetComPortSetting(const std::wstring& name) {
    ::RegSetValueExW(SettingsKey().get(), L"COM", 0, REG_SZ,
                     reinterpret_cast<const BYTE*>(name.c_str()),
                     static_cast<DWORD>((name.size() + 1) * sizeof(wchar_t)));
}

bool WriteAdminOnly(DWORD on) {
    return ::RegSetValueExW(SettingsKey().get(), L"AdminOnlyConfiguration", 0, REG_DWORD,
                            reinterpret_cast<const BYTE*>(&on), sizeof on) == ERROR_SUCCESS;
}

void ClearPolicy() {
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, KRVN::kPolicyKeyPath);
}

bool WritePolicyDword(const wchar_t* name, DWORD value) {
    return ::RegSetValueExW(PolicyKey().get(), name, 0, REG_DWORD,
                            reinterpret_cast<const BYTE*>(&value), sizeof value) == ERROR_SUCCESS;
}

bool WritePolicyText(const wchar_t* name, const std::wstring& text) {
    return ::RegSetValueExW(
               PolicyKey().get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
               static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool DeletePolicyValue(const wchar_t* name) {
    return ::RegDeleteValueW(PolicyKey().get(), name) == ERROR_SUCCESS;
}

std::wstring StoredComPort() {
    wchar_t name[256] = {};
    DWORD size = sizeof name;
    ::RegGetValueW(HKEY_LOCAL_MACHINE, kSettingsKey, KRVN::kComPortValue, RRF_RT_REG_SZ, nullptr,
                   name, &size);
    return name;
}

StoredValue ReadServerListSetting() {
    StoredValue stored;
    DWORD size = 0;
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, kSettingsKey, kServerListValue, RRF_RT_ANY, &stored.type,
                       nullptr, &size) != ERROR_SUCCESS) {
        return stored;
    }
    stored.bytes.resize(size);
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, kSettingsKey, kServerListValue, RRF_RT_ANY, &stored.type,
                       stored.bytes.data(), &size) != ERROR_SUCCESS) {
        return {};
    }
    stored.bytes.resize(size);
    return stored;
}

bool WriteServerListSetting(DWORD type, const void* data, DWORD size) {
    return ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, kSettingsKey, kServerListValue, type, data,
                             size) == ERROR_SUCCESS;
}

KRVN::unique_handle FindProcess(const wchar_t* name) {
    const KRVN::unique_hfile snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    if (!snapshot || !::Process32FirstW(snapshot.get(), &entry)) {
        return KRVN::unique_handle();
    }
    do {
        if (::lstrcmpiW(entry.szExeFile, name) == 0) {
            return KRVN::unique_handle(
                ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, entry.th32ProcessID));
        }
    } while (::Process32NextW(snapshot.get(), &entry));
    return KRVN::unique_handle();
}

} // namespace krvn_e2e
