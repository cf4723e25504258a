#include "common/crit_sect.h"
#include "common/event.h"
#include "common/sync_guard.h"
#include "tests/support/wait.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <thread>

using namespace std::chrono_literals;

namespace {

// Another thread that takes the object and releases it at once.
class Contender {
public:
    explicit Contender(KRVN::CSycnObj& object)
        : m_thread([this, &object] {
              object.Lock(INFINITE, false);
              object.Unlock();
              m_taken = true;
          }) {}

    ~Contender() {
        // A contender still blocked belongs to a failed test: leave it.
        if (TakenWithin(5s)) {
            m_thread.join();
        } else {
            m_thread.detach();
        }
    }

    bool TakenWithin(std::chrono::milliseconds limit) const {
        return krvn_test::WaitUntil([this] { return m_taken.load(); },
                                    static_cast<DWORD>(limit.count()), 1);
    }

private:
    std::atomic<bool> m_taken{false};
    std::thread m_thread;
};

// Counts what a guard does to the object it holds.
class CountingSyncObj : public KRVN::CSycnObj {
public:
    explicit CountingSyncObj(DWORD lockResult) : m_lockResult(lockResult) {}
    DWORD Lock(DWORD timeoutMs, bool alertable) override {
        ++locks;
        lastTimeout = timeoutMs;
        lastAlertable = alertable;
        return m_lockResult;
    }
    DWORD Unlock() override {
        ++unlocks;
        return 0;
    }
    int locks = 0;
    int unlocks = 0;
    DWORD lastTimeout = 0;
    bool lastAlertable = true;

private:
    DWORD m_lockResult;
};

void CALLBACK NoOpApc(ULONG_PTR) {}

} // namespace

TEST(CEvent, IsAManualResetEventCreatedUnsignalled) {
    KRVN::CEvent event;
    ASSERT_NE(nullptr, event.Handle());
    EXPECT_EQ(WAIT_TIMEOUT, event.Lock(0, false));

    EXPECT_TRUE(event.Set());
    // Manual reset: a satisfied wait leaves the event set for the next waiter.
    EXPECT_EQ(WAIT_OBJECT_0, event.Lock(0, false));
    EXPECT_EQ(WAIT_OBJECT_0, event.Lock(INFINITE, false));
    EXPECT_EQ(0u, event.Unlock());
    EXPECT_EQ(WAIT_OBJECT_0, event.Lock(0, false));

    EXPECT_TRUE(event.Reset());
    EXPECT_EQ(WAIT_TIMEOUT, event.Lock(20, false));
}

TEST(CEvent, AlertableLockReturnsForAQueuedApc) {
    KRVN::CEvent event;
    ASSERT_TRUE(::QueueUserAPC(&NoOpApc, ::GetCurrentThread(), 0));
    EXPECT_EQ(WAIT_IO_COMPLETION, event.Lock(5000, true));
}

TEST(CCritSect, LockNestsOnOneThreadAndExcludesOthersUntilFullyUnlocked) {
    KRVN::CCritSect section;
    EXPECT_EQ(nullptr, section.Handle());
    // Timeout and alertable flag are ignored: the lock is always taken.
    EXPECT_EQ(0u, section.Lock(0, true));
    EXPECT_EQ(0u, section.Lock(INFINITE, false));
    Contender other(section);
    EXPECT_FALSE(other.TakenWithin(50ms));

    EXPECT_EQ(0u, section.Unlock());
    EXPECT_FALSE(other.TakenWithin(50ms));

    EXPECT_EQ(0u, section.Unlock());
    EXPECT_TRUE(other.TakenWithin(5s));
}

TEST(CSyncGuard, TakesTheObjectWithoutTimeoutAndReleasesItWhenLeftByAnException) {
    KRVN::CCritSect section;
    std::unique_ptr<Contender> other;
    try {
        KRVN::CSyncGuard guard(&section);
        other = std::make_unique<Contender>(section);
        EXPECT_FALSE(other->TakenWithin(50ms));
        throw std::runtime_error("leaving the scope");
    } catch (const std::runtime_error&) {
    }
    EXPECT_TRUE(other->TakenWithin(5s));

    CountingSyncObj counted(WAIT_OBJECT_0);
    {
        KRVN::CSyncGuard guard(&counted);
        EXPECT_EQ(1, counted.locks);
        EXPECT_EQ(INFINITE, counted.lastTimeout);
        EXPECT_FALSE(counted.lastAlertable);
        EXPECT_EQ(0, counted.unlocks);
    }
    EXPECT_EQ(1, counted.unlocks);
}

TEST(CSyncGuard, ReleasesNothingItDidNotTake) {
    CountingSyncObj failing(WAIT_FAILED);
    { KRVN::CSyncGuard guard(&failing); }
    EXPECT_EQ(1, failing.locks);
    EXPECT_EQ(0, failing.unlocks);
}
