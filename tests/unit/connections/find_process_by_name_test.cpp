// FindProcessIds and FindProcessByName against a process this test starts,
// with OpenProcess seen through its seam.

#include <gtest/gtest.h>

#include <vector>

#include "connections/find_process_by_name.h"
#include "tests/support/substitute_server_process.h"

namespace krvn_test {
namespace {

struct OpenCall {
    DWORD id;
    DWORD access;
};
std::vector<OpenCall> g_opened;

HANDLE WINAPI RecordOpen(DWORD access, BOOL inherit, DWORD id) {
    g_opened.push_back({id, access});
    return ::OpenProcess(access, inherit, id);
}

// GetProcessId needs query access.
constexpr DWORD kAccess = PROCESS_QUERY_LIMITED_INFORMATION;

TEST(FindProcessByNameTest, OpensOnlyTheMatchWithTheAccessAskedForWhateverTheLetterCase) {
    SubstituteServerProcess server;
    ASSERT_TRUE(server.Start(L"--listen 127.0.0.1:0"));
    DWORD session = 0;
    ASSERT_TRUE(::ProcessIdToSessionId(server.ProcessId(), &session));
    for (const wchar_t* name :
         {L"substitute_server.exe", L"SUBSTITUTE_SERVER.EXE", L"Substitute_Server.Exe"}) {
        EXPECT_EQ(std::vector<DWORD>{server.ProcessId()}, FindProcessIds(name)) << name;
        g_opened.clear();
        const KRVN::unique_handle found = FindProcessByName(name, session, kAccess, &RecordOpen);
        ASSERT_TRUE(found) << name;
        EXPECT_EQ(server.ProcessId(), ::GetProcessId(found.get())) << name;
        ASSERT_EQ(1u, g_opened.size()) << name;
        EXPECT_EQ(kAccess, g_opened[0].access);
    }
    // Another session's process is neither returned nor opened.
    g_opened.clear();
    EXPECT_FALSE(FindProcessByName(L"substitute_server.exe", session + 1, kAccess, &RecordOpen));
    EXPECT_TRUE(g_opened.empty());
}

TEST(FindProcessByNameTest, UnknownNameGivesNothing) {
    EXPECT_TRUE(FindProcessIds(L"no-such-program-krvn.exe").empty());
    EXPECT_TRUE(FindProcessIds(L"substitute_server").empty());
    EXPECT_FALSE(FindProcessByName(L"no-such-program-krvn.exe", 0, SYNCHRONIZE));
}

} // namespace
} // namespace krvn_test
