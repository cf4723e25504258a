// Every copy of a password the service makes on its way from and to the
// registry is wiped before its memory goes back: the records of a save and
// of a load, the server objects made from them and the transports' copies.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "com/bstr.h"
#include "service/alarm_manager.h"
#include "tests/unit/connections/test_environment.h"
#include "tests/unit/registry_store/registry_test_support.h"
#include "tests/unit/service/freed_memory_watch.h"

namespace krvn_test {
namespace {

using PasswordCopiesTest = RegistryTest;

TEST_F(PasswordCopiesTest, NoFreedBlockHoldsAPasswordAfterASaveAndALoad) {
    // One long enough for the heap, one short enough to live inside its
    // string object.
    const std::wstring heapPassword = L"heap-password-7c3e9a1f-d04b";
    const std::wstring shortPassword = L"Pq7!k";
    AlarmManager saving;
    saving.AddServer(MakeServerObject(L"127.0.0.91", heapPassword.c_str(), 0).get());
    saving.AddServer(MakeServerObject(L"127.0.0.92", shortPassword.c_str(), 0).get());

    std::vector<std::wstring> watched{heapPassword, shortPassword};
    const FreedMemoryWatch watch(std::move(watched));
    // The watch sees both kinds of memory: one unwiped copy of each.
    auto copy = std::make_unique<std::wstring>(heapPassword);
    EXPECT_EQ(heapPassword, *copy);
    copy.reset();
    ::SysFreeString(::SysAllocString(heapPassword.c_str()));
    ASSERT_EQ(1u, watch.HeapBlocks());
    ASSERT_EQ(1u, watch.TaskBlocks());

    ASSERT_EQ(S_OK, saving.SaveList());
    {
        AlarmManager loading;
        ASSERT_EQ(S_OK, loading.LoadList());
        const AlarmManager::Snapshot servers = loading.Servers();
        ASSERT_EQ(2u, servers.size());
        EXPECT_TRUE(servers[0].second->SocketTransport().GetPassword() == heapPassword);
        EXPECT_TRUE(servers[1].second->SocketTransport().GetPassword() == shortPassword);
    }
    EXPECT_EQ(1u, watch.HeapBlocks());
    EXPECT_EQ(1u, watch.TaskBlocks());
}

} // namespace
} // namespace krvn_test
