// The workers behind alarms, probes and client calls: a task that hangs
// holds back no other, its caller (or the pool) can go away first, and idle
// workers are used again instead of piling up.

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "common/unique_handle.h"
#include "connections/worker_pool.h"

namespace krvn_test {
namespace {

TEST(WorkerPoolTest, AHungTaskHoldsBackNoOtherAndItsCallerCanLeave) {
    auto owned = std::make_unique<WorkerPool>();
    WorkerPool& pool = *owned;
    const auto release = std::make_shared<KRVN::unique_event>(KRVN::unique_event::create());
    const auto hung = pool.Run([release] {
        ::WaitForSingleObject(release->get(), INFINITE);
        return 7;
    });
    std::vector<std::shared_ptr<PendingResult>> quick;
    for (int i = 0; i < 8; ++i) {
        quick.push_back(pool.Run([i] { return i; }));
    }
    for (int i = 0; i < 8; ++i) {
        ASSERT_EQ(PendingResult::Wait::Done, quick[i]->WaitFor(5000)) << i;
        EXPECT_EQ(i, quick[i]->Result());
    }
    EXPECT_EQ(PendingResult::Wait::TimedOut, hung->WaitFor(100));
    EXPECT_EQ(PendingResult::kTimedOut, hung->Result());

    // A cancel event ends the wait before the bound.
    const KRVN::unique_event cancel = KRVN::unique_event::create(true, true);
    EXPECT_EQ(PendingResult::Wait::Cancelled, hung->WaitFor(INFINITE, cancel.get()));

    // The pool may go before its workers; the hung one still delivers.
    owned.reset();
    release->SetEvent();
    ASSERT_EQ(PendingResult::Wait::Done, hung->WaitFor(5000));
    EXPECT_EQ(7, hung->Result());
}

TEST(WorkerPoolTest, IdleWorkersAreUsedAgainAndAThrowingTaskFails) {
    WorkerPool pool;
    for (int round = 0; round < 50; ++round) {
        const auto done = pool.Run([] { return 0; });
        ASSERT_EQ(PendingResult::Wait::Done, done->WaitFor(5000));
    }
    // Each round found the worker of the last one idle.
    EXPECT_LE(pool.ThreadCount(), 2u);

    const auto thrown = pool.Run([]() -> std::int32_t { throw 1; });
    ASSERT_EQ(PendingResult::Wait::Done, thrown->WaitFor(5000));
    EXPECT_EQ(E_FAIL, thrown->Result());
    // The worker survived it.
    EXPECT_EQ(PendingResult::Wait::Done, pool.Run([] { return 0; })->WaitFor(5000));
}

} // namespace
} // namespace krvn_test
