// The Tolvane program as a whole, out of process: its switches and what they
// leave in the registry (read with Wine's reg.exe) and the service manager,
// the choice of run mode, activation by a client, and the stop.

#include <windows.h>

#include <atomic>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/unique_handle.h"
#include "contract/TolvaneLib.h"
#include "service/command_line.h"
#include "tests/e2e/service/program_run.h"
#include "tests/e2e/service/registry_listing.h"
#include "tests/e2e/service/service_test.h"
#include "tests/support/wait.h"

namespace krvn_e2e {
namespace {

using ::testing::HasSubstr;

constexpr char kClassesRoot[] = "HKEY_CLASSES_ROOT\\";
constexpr char kAppId[] = "{D731F976-9C5E-4E8A-B8D7-9B030B4C90A7}";
constexpr char kLibId[] = "{74C3D34A-2C32-4987-862B-BC506646A24E}";

struct ClassEntry {
    const char* name;
    const char* clsid;
};

const ClassEntry kClasses[] = {
    {"QNAlarm", "{03CE622A-69AF-4F70-A170-D0A2CB0631F0}"},
    {"QNServer", "{84FCF66D-791D-4245-AA61-B10FF171C2B2}"},
    {"QNServers", "{B9B4F10E-E56A-4C54-AD6B-B6C9D28548A2}"},
};

std::string Key(const std::string& path) {
    return kClassesRoot + path;
}

std::map<std::string, RegistryValues> Listing(const std::string& path) {
    return Relative(QueryRegistry(Key(path)), Key(path));
}

// The event source's key, where the Event Viewer looks for the texts.
std::map<std::string, RegistryValues> EventSourceListing() {
    const std::string key =
        "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Tolvane";
    return Relative(QueryRegistry(key), key);
}

RegistryValues Text(std::initializer_list<std::pair<const char*, std::string>> values) {
    RegistryValues result;
    for (const auto& [name, data] : values) {
        result[name] = RegistryValue{"REG_SZ", data};
    }
    return result;
}

// The program's full path as it knows it itself (with backslashes).
std::string ProgramPath() {
    const std::wstring path = KRVN_TOLVANE;
    std::string text;
    for (const wchar_t c : path) {
        text += c == L'/' ? '\\' : static_cast<char>(c);
    }
    return text;
}

// Exactly the keys and values the contract lists for the classes, the AppID
// and the type library; localService is the AppID's LocalService value, or
// empty for none. With a service, the event source names the program too.
void ExpectRegistered(const std::string& localService) {
    const std::string module = ProgramPath();
    for (const ClassEntry& entry : kClasses) {
        SCOPED_TRACE(entry.name);
        const std::string description = std::string(entry.name) + " Class";
        const std::string progId = std::string("Tolvane.") + entry.name + ".1";
        const std::string independent = std::string("Tolvane.") + entry.name;
        using Keys = std::map<std::string, RegistryValues>;
        EXPECT_EQ(Listing(std::string("CLSID\\") + entry.clsid),
                  (Keys{{"", Text({{"(Default)", description}, {"AppID", kAppId}})},
                        {"LocalServer32", Text({{"(Default)", module}})},
                        {"ProgID", Text({{"(Default)", progId}})},
                        {"Programmable", {}},
                        {"TypeLib", Text({{"(Default)", kLibId}})},
                        {"VersionIndependentProgID", Text({{"(Default)", independent}})}}));
        EXPECT_EQ(Listing(progId), (Keys{{"", Text({{"(Default)", description}})},
                                         {"CLSID", Text({{"(Default)", entry.clsid}})}}));
        EXPECT_EQ(Listing(independent), (Keys{{"", Text({{"(Default)", description}})},
                                              {"CLSID", Text({{"(Default)", entry.clsid}})},
                                              {"CurVer", Text({{"(Default)", progId}})}}));
    }
    RegistryValues appId = Text({{"(Default)", "Tolvane"}});
    // Self-relative "O:BAG:BAD:(A;;CCDCSW;;;SY)(A;;CCDCSW;;;BA)(A;;CCDCSW;;;IU)":
    // local launch, activation and calls for SYSTEM, Administrators and
    // interactive users only.
    const RegistryValue permissions{
        "REG_BINARY",
        "0100048014000000240000000000000034000000010200000000000520000000200200000102000000000005"
        "20000000200200000200480003000000000014000B00000001010000000000051200000000001800"
        "0B00000001020000000000052000000020020000000014000B000000010100000000000504000000"};
    appId["AccessPermission"] = permissions;
    appId["LaunchPermission"] = permissions;
    if (!localService.empty()) {
        appId["LocalService"] = RegistryValue{"REG_SZ", localService};
        EXPECT_EQ(EventSourceListing(),
                  (std::map<std::string, RegistryValues>{
                      {"",
                       {{"EventMessageFile", RegistryValue{"REG_EXPAND_SZ", module}},
                        {"TypesSupported", RegistryValue{"REG_DWORD", "0x7"}}}}}));
    }
    EXPECT_EQ(Listing(std::string("AppID\\") + kAppId),
              (std::map<std::string, RegistryValues>{{"", appId}}));
    EXPECT_EQ(Listing("AppID\\Tolvane.EXE"),
              (std::map<std::string, RegistryValues>{{"", Text({{"AppID", kAppId}})}}));
    const auto typeLib = Listing(std::string("TypeLib\\") + kLibId + "\\1.0");
    ASSERT_EQ(1u, typeLib.count(""));
    EXPECT_EQ(Text({{"(Default)", "Tolvane 1.0 Type Library"}}), typeLib.at(""));
    EXPECT_EQ(1u, typeLib.count("0\\win64")) << "the neutral locale, for Wine's marshaller";
    EXPECT_EQ(1u, typeLib.count("409\\win64"));
}

void ExpectUnregistered() {
    for (const ClassEntry& entry : kClasses) {
        SCOPED_TRACE(entry.name);
        EXPECT_TRUE(Listing(std::string("CLSID\\") + entry.clsid).empty());
        EXPECT_TRUE(Listing(std::string("Tolvane.") + entry.name + ".1").empty());
        EXPECT_TRUE(Listing(std::string("Tolvane.") + entry.name).empty());
    }
    EXPECT_TRUE(Listing(std::string("AppID\\") + kAppId).empty());
    EXPECT_TRUE(Listing("AppID\\Tolvane.EXE").empty());
    EXPECT_TRUE(Listing(std::string("TypeLib\\") + kLibId + "\\1.0").empty());
    EXPECT_FALSE(Listing("AppID").empty()) << "the AppID root stays";
    EXPECT_TRUE(EventSourceListing().empty());
    EXPECT_EQ(0u, ServiceState()) << "the service is removed";
}

// The service manager's record of the service, as Wine keeps it.
RegistryValues ServiceRecord() {
    const std::string key = "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Tolvane";
    const auto listing = Relative(QueryRegistry(key), key);
    const auto found = listing.find("");
    return found == listing.end() ? RegistryValues() : found->second;
}

// "STATE : 4 RUNNING" in the output of Wine's sc.exe.
std::string ScState() {
    const ProgramResult run = RunProgram(L"sc.exe query Tolvane");
    const size_t at = run.output.find("STATE");
    if (at == std::string::npos) {
        return "";
    }
    const size_t end = run.output.find_first_of("\r\n", at);
    std::string line = run.output.substr(at, end - at);
    const size_t last = line.find_last_of(' ');
    return line.substr(last + 1);
}

using ServiceHost = ServiceTest;

TEST_F(ServiceHost, ServiceSwitchInstallsTheServiceAndRegistersExactlyTheContract) {
    ASSERT_TRUE(Tolvane(L"-Service"));

    ExpectRegistered("Tolvane");
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), ServiceState());
    RegistryValues record = ServiceRecord();
    EXPECT_EQ((RegistryValue{"REG_DWORD", "0x10"}), record["Type"]) << "own process";
    EXPECT_EQ((RegistryValue{"REG_DWORD", "0x3"}), record["Start"]) << "demand start";
    EXPECT_EQ((RegistryValue{"REG_DWORD", "0x1"}), record["ErrorControl"]) << "normal";
    EXPECT_EQ((RegistryValue{"REG_SZ", "\"" + ProgramPath() + "\""}), record["ImagePath"]);
    EXPECT_EQ((RegistryValue{"REG_SZ", "Tolvane"}), record["DisplayName"]);
    EXPECT_EQ((RegistryValue{"REG_MULTI_SZ", "RPCSS"}), record["DependOnService"]);

    ASSERT_TRUE(Tolvane(L"-UnregServer"));
    ExpectUnregistered();
    EXPECT_FALSE(HasLocalService());

    // Removing what is not there is no failure.
    EXPECT_TRUE(Tolvane(L"-UnregServer"));
}

// Another program (the Services console, a monitor) holds the installed
// service open: its deletion only marks it, and the reinstallation waits for
// the old entry to go instead of failing on it.
TEST_F(ServiceHost, ReinstallingWaitsForAServiceOthersStillHoldOpen) {
    ASSERT_TRUE(Tolvane(L"-Service"));
    const KRVN::unique_schandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    KRVN::unique_schandle held(::OpenServiceW(manager.get(), L"Tolvane", SERVICE_QUERY_STATUS));
    ASSERT_TRUE(held);
    std::thread letGo([&held] {
        ::Sleep(2000);
        held.reset();
    });
    const ProgramResult again = RunTolvane(L"-Service");
    letGo.join();
    ASSERT_TRUE(again.finished);
    EXPECT_EQ(0u, again.exitCode) << again.output;
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), ServiceState());
    ExpectRegistered("Tolvane");
}

TEST_F(ServiceHost, SwitchWordsMatchInAnyLetterCase) {
    ASSERT_TRUE(Tolvane(L"/service"));
    EXPECT_TRUE(HasLocalService());
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), ServiceState());

    ASSERT_TRUE(Tolvane(L"/REGSERVER"));
    EXPECT_FALSE(HasLocalService());
    EXPECT_EQ(0u, ServiceState());
    ExpectRegistered("");

    ASSERT_TRUE(Tolvane(L"-unregserver"));
    ExpectUnregistered();
}

TEST(HostSwitches, OnlyWholeWordsAfterADashOrSlashCount) {
    using Args = std::vector<std::wstring>;
    EXPECT_EQ(HostAction::Service, ParseHostAction(Args{L"/sErViCe"}));
    EXPECT_EQ(HostAction::UnregServer, ParseHostAction(Args{L"-Embedding", L"-UNREGSERVER"}));
    EXPECT_EQ(HostAction::Run, ParseHostAction(Args{L"Service", L"-Servicex", L"/Serv", L"-"}));
    EXPECT_EQ(HostAction::Run, ParseHostAction(Args{L"-Embedding"}));
    EXPECT_EQ(HostAction::Run, ParseHostAction(Args{}));
    // Registration is looked for first, whatever the order.
    EXPECT_EQ(HostAction::RegServer, ParseHostAction(Args{L"-Service", L"/RegServer"}));
    EXPECT_EQ(HostAction::UnregServer, ParseHostAction(Args{L"/Service", L"-UnregServer"}));
    EXPECT_EQ(HostAction::RegServer, ParseHostAction(Args{L"/RegServer", L"-UnregServer"}));
    // Installing comes before the boot settings that need the installed service.
    EXPECT_EQ(HostAction::AutoStart, ParseHostAction(Args{L"/autostart"}));
    EXPECT_EQ(HostAction::Service, ParseHostAction(Args{L"-AutoStart", L"-Service"}));
}

TEST_F(ServiceHost, RegServerAfterServiceLeavesAPlainLocalServer) {
    ASSERT_TRUE(Tolvane(L"-Service"));
    ASSERT_TRUE(Tolvane(L"/RegServer"));
    EXPECT_EQ(0u, ServiceState());
    EXPECT_FALSE(HasLocalService());
    ExpectRegistered("");

    // Both on one command line: registration wins over the service.
    ASSERT_TRUE(Tolvane(L"-Service /RegServer"));
    EXPECT_EQ(0u, ServiceState());
    EXPECT_FALSE(HasLocalService());

    // A client now starts the program as a plain local server.
    auto servers = Create<IQNServers>(CLSID_QNServers);
    ASSERT_TRUE(servers);
    LONG count = -1;
    EXPECT_EQ(S_OK, servers->get_Count(&count));
    EXPECT_EQ(0, count);
    EXPECT_EQ(0u, ServiceState()) << "no service was installed on the way";
    const KRVN::unique_handle server = FindProcess(L"Tolvane.exe");
    ASSERT_TRUE(server);

    // It ends after its shutdown wait and pause once the last object is gone.
    const ULONGLONG released = ::GetTickCount64();
    servers.reset();
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(server.get(), 30000));
    const ULONGLONG lived = ::GetTickCount64() - released;
    EXPECT_GE(lived, 5900u);
    EXPECT_LE(lived, 15000u);
    DWORD exitCode = 1;
    ::GetExitCodeProcess(server.get(), &exitCode);
    EXPECT_EQ(0u, exitCode);
}

TEST_F(ServiceHost, PlainStartOfAnInstalledServiceGoesToTheServiceManager) {
    ASSERT_TRUE(Tolvane(L"-Service"));
    // Started by hand rather than by the service manager, the dispatcher
    // cannot connect (ERROR_FAILED_SERVICE_CONTROLLER_CONNECT).
    const ProgramResult run = RunTolvane(L"");
    ASSERT_TRUE(run.finished) << run.output;
    EXPECT_EQ(static_cast<DWORD>(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT), run.exitCode);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), ServiceState());
}

// Watches the service's state closely from the moment it runs, noting whether
// the stand-in desktop program had already ended when the service reported
// itself stopped.
class StopWatcher {
public:
    explicit StopWatcher(HANDLE desktop) : m_desktop(desktop) {
        m_thread = std::thread([this] { Watch(); });
    }
    ~StopWatcher() { Join(); }

    void Join() {
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }
    bool DesktopEndedFirst() const { return m_desktopEndedFirst; }

private:
    void Watch() {
        // Polled without a pause: the moment the service reports stopped is
        // compared with the desktop program's end.
        krvn_test::WaitUntil(
            [this] {
                const DWORD state = ServiceState();
                if (state != SERVICE_STOPPED) {
                    return false;
                }
                m_desktopEndedFirst = ::WaitForSingleObject(m_desktop, 0) == WAIT_OBJECT_0;
                return true;
            },
            60000, 0);
    }

    HANDLE m_desktop;
    std::thread m_thread;
    std::atomic<bool> m_desktopEndedFirst{false};
};

KRVN::unique_handle StartProgram(std::wstring line) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &info)) {
        ADD_FAILURE() << "CreateProcessW: " << ::GetLastError();
        return KRVN::unique_handle();
    }
    const KRVN::unique_handle thread(info.hThread);
    return KRVN::unique_handle(info.hProcess);
}

TEST_F(ServiceHost, ClientActivationStartsTheServiceAndTheStopClosesOnlyItsOwnDesktopProgram) {
    ASSERT_TRUE(Tolvane(L"-Service"));
    ASSERT_EQ(static_cast<DWORD>(SERVICE_STOPPED), ServiceState());

    auto servers = Create<IQNServers>(CLSID_QNServers);
    ASSERT_TRUE(servers);
    EXPECT_EQ("RUNNING", ScState());
    eConnectState state = AllConnected;
    EXPECT_EQ(S_OK, servers->get_State(&state));

    // Beside Tolvane.exe, closing when asked as Alarm.exe does; and one of the
    // same name in another folder, which is not the service's to end.
    const KRVN::unique_handle desktop =
        StartProgram(L"\"" KRVN_ALARM_STAND_IN L"\" --stop-event Global\\KRVN_Alrm_Close "
                     L"--lifetime 120");
    const KRVN::unique_handle other = StartProgram(L"\"" KRVN_ALARM_ELSEWHERE L"\" --lifetime 120");
    ASSERT_TRUE(desktop && other);
    ASSERT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), ::WaitForSingleObject(desktop.get(), 500))
        << "the stand-in Alarm.exe runs";

    StopWatcher watcher(desktop.get());
    const ProgramResult stop = RunProgram(L"net.exe stop Tolvane");
    EXPECT_TRUE(stop.finished);
    EXPECT_EQ(0u, stop.exitCode) << stop.output;
    watcher.Join();
    EXPECT_TRUE(watcher.DesktopEndedFirst()) << "stopped while Alarm.exe still ran";
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(desktop.get(), 5000));
    DWORD exitCode = 1;
    ::GetExitCodeProcess(desktop.get(), &exitCode);
    EXPECT_EQ(0u, exitCode) << "closed on request, not ended";
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), ::WaitForSingleObject(other.get(), 0));
    ::TerminateProcess(other.get(), 0);
    EXPECT_EQ("STOPPED", ScState());
    servers.reset();

    // The next client starts it again; without a desktop program the stop
    // goes on all the same.
    servers = Create<IQNServers>(CLSID_QNServers);
    ASSERT_TRUE(servers);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), ServiceState());
    servers.reset();
    EXPECT_TRUE(StopService());
}

} // namespace
} // namespace krvn_e2e
