// FindProcessByName against a process this test starts.

#include <gtest/gtest.h>

#include "connections/find_process_by_name.h"
#include "tests/support/substitute_server_process.h"

namespace krvn_test {
namespace {

TEST(FindProcessByNameTest, FindsARunningProcessWhateverTheLetterCase) {
    SubstituteServerProcess server;
    ASSERT_TRUE(server.Start(L"--listen 127.0.0.1:0"));
    for (const wchar_t* name :
         {L"substitute_server.exe", L"SUBSTITUTE_SERVER.EXE", L"Substitute_Server.Exe"}) {
        const KRVN::unique_handle found = FindProcessByName(name);
        ASSERT_TRUE(found) << name;
        EXPECT_EQ(server.ProcessId(), ::GetProcessId(found.get())) << name;
    }
}

TEST(FindProcessByNameTest, ASessionFilterPassesOverOtherSessions) {
    SubstituteServerProcess server;
    ASSERT_TRUE(server.Start(L"--listen 127.0.0.1:0"));
    DWORD session = 0;
    ASSERT_TRUE(::ProcessIdToSessionId(server.ProcessId(), &session));
    const KRVN::unique_handle found = FindProcessByName(L"substitute_server.exe", session);
    ASSERT_TRUE(found);
    EXPECT_EQ(server.ProcessId(), ::GetProcessId(found.get()));
    EXPECT_FALSE(FindProcessByName(L"substitute_server.exe", session + 1));
}

TEST(FindProcessByNameTest, UnknownNameGivesNothing) {
    EXPECT_FALSE(FindProcessByName(L"no-such-program-krvn.exe"));
    EXPECT_FALSE(FindProcessByName(L"substitute_server"));
}

} // namespace
} // namespace krvn_test
