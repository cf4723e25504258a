#include "common/smart_thread.h"
#include "tests/support/wait.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <regex>
#include <stdexcept>
#include <vector>

using namespace std::chrono_literals;

namespace {

using Thread = CEventThread<CRuntimeThreadCreator>;

constexpr DWORD kWaitLimitMs = 5000;

// A worker whose body the test chooses. The owner stops a worker before
// destroying it; the destructor does so in case a test failed half-way.
class Worker : public Thread {
public:
    explicit Worker(std::function<void(Worker&)> body = {}) : m_body(std::move(body)) {}
    ~Worker() override { Stop(true); }

    void Run() override {
        stopSetAtEntry.push_back(StopEvent().Lock(0, false) == WAIT_OBJECT_0);
        ran = true;
        if (m_body) {
            m_body(*this);
        } else {
            StopEvent().Lock(INFINITE, false);
        }
    }

    using Thread::StopEvent;

    bool RanWithin(std::chrono::milliseconds limit) const {
        return krvn_test::WaitUntil([this] { return ran.load(); },
                                    static_cast<DWORD>(limit.count()), 1);
    }

    std::vector<bool> stopSetAtEntry;
    std::atomic<bool> ran{false};

private:
    std::function<void(Worker&)> m_body;
};

DWORD ExitCodeOf(KRVN::CSycnObj& thread) {
    DWORD code = STILL_ACTIVE;
    ::GetExitCodeThread(thread.Handle(), &code);
    return code;
}

void ExpectRaisedHere(const CAException& e, std::int32_t code, std::int32_t line) {
    EXPECT_EQ(code, e.Code());
    EXPECT_EQ(line, e.Line());
    EXPECT_TRUE(std::regex_search(e.File(), std::regex("smart_thread\\.h$"))) << e.File();
    EXPECT_TRUE(std::regex_match(e.Date(), std::regex("[A-Z][a-z]{2} [ 1-3][0-9] [0-9]{4}")))
        << e.Date();
}

template <DWORD Error> struct FailingCreator {
    static HANDLE Create(LPSECURITY_ATTRIBUTES, unsigned, CRuntimeThreadCreator::EntryRoutine,
                         void*, unsigned, unsigned* threadId) {
        *threadId = 0;
        ::SetLastError(Error);
        return nullptr;
    }
};

} // namespace

TEST(CEventThread, StartsStopsWithWaitAndStartsAgainWithAClearedStopEvent) {
    Worker worker;
    EXPECT_EQ(nullptr, worker.Handle());
    EXPECT_EQ(0u, worker.ThreadId());
    EXPECT_FALSE(worker.IsRunning());

    EXPECT_EQ(S_OK, worker.Start(nullptr, 0, false));
    EXPECT_TRUE(worker.IsRunning());
    EXPECT_NE(0u, worker.ThreadId());
    ASSERT_TRUE(worker.RanWithin(5s));
    EXPECT_EQ(WAIT_TIMEOUT, worker.Lock(20, false));

    EXPECT_EQ(0, worker.Stop(true));
    EXPECT_FALSE(worker.IsRunning());
    EXPECT_EQ(WAIT_OBJECT_0, worker.Lock(0, false));
    EXPECT_EQ(0u, worker.Unlock());
    EXPECT_EQ(0u, ExitCodeOf(worker));
    // The stop request stays visible until the next start.
    EXPECT_EQ(WAIT_OBJECT_0, worker.StopEvent().Lock(0, false));

    worker.ran = false;
    EXPECT_EQ(S_OK, worker.Start(nullptr, 0, false));
    ASSERT_TRUE(worker.RanWithin(5s));
    EXPECT_EQ(0, worker.Stop(true));
    EXPECT_EQ((std::vector<bool>{false, false}), worker.stopSetAtEntry);
}

TEST(CEventThread, DefaultRunWaitsForTheStopRequest) {
    Thread thread;
    thread.Start(nullptr, 0, false);
    EXPECT_EQ(WAIT_TIMEOUT, thread.Lock(50, false));
    EXPECT_EQ(0, thread.Stop(true));
    EXPECT_EQ(0u, ExitCodeOf(thread));
}

TEST(CEventThread, SuspendedStartRunsNothingUntilResumed) {
    Worker worker;
    worker.Start(nullptr, 0, true);
    EXPECT_TRUE(worker.IsRunning());
    EXPECT_EQ(WAIT_TIMEOUT, worker.Lock(50, false));
    EXPECT_FALSE(worker.ran);

    ASSERT_EQ(1u, ::ResumeThread(worker.Handle()));
    EXPECT_TRUE(worker.RanWithin(5s));
    EXPECT_EQ(0, worker.Stop(true));
}

TEST(CEventThread, StartOfARunningThreadRaisesAndLeavesItUnchanged) {
    Worker worker;
    worker.Start(nullptr, 0, false);
    ASSERT_TRUE(worker.RanWithin(5s));
    const HANDLE handle = worker.Handle();
    const unsigned id = worker.ThreadId();

    try {
        worker.Start(nullptr, 0, false);
        ADD_FAILURE() << "second start accepted";
    } catch (const CAException& e) {
        ExpectRaisedHere(e, E_FAIL, 213);
    }
    // The wrapper's own start has its own running test.
    try {
        worker.CSmartThread<CRuntimeThreadCreator>::Start(nullptr, 0, false);
        ADD_FAILURE() << "start of the wrapper accepted";
    } catch (const CAException& e) {
        ExpectRaisedHere(e, E_FAIL, 161);
    }

    EXPECT_EQ(handle, worker.Handle());
    EXPECT_EQ(id, worker.ThreadId());
    EXPECT_EQ(WAIT_TIMEOUT, worker.StopEvent().Lock(0, false));
    EXPECT_TRUE(worker.IsRunning());
    EXPECT_EQ(0, worker.Stop(true));
    EXPECT_EQ(1u, worker.stopSetAtEntry.size());
}

TEST(CEventThread, StopWithoutWaitReturnsAtOnceAndStartFailsUntilTheWorkerEnded) {
    KRVN::CEvent release;
    Worker worker([&](Worker& self) {
        self.StopEvent().Lock(INFINITE, false);
        release.Lock(kWaitLimitMs, false);
    });
    worker.Start(nullptr, 0, false);

    auto stop = std::async(std::launch::async, [&] { return worker.Stop(false); });
    const bool returned = stop.wait_for(5s) == std::future_status::ready;
    EXPECT_TRUE(returned) << "Stop without wait waited for the worker";
    EXPECT_NE(0, stop.get());
    EXPECT_TRUE(worker.IsRunning());
    EXPECT_EQ(WAIT_OBJECT_0, worker.StopEvent().Lock(0, false));

    EXPECT_THROW(worker.Start(nullptr, 0, false), CAException);

    release.Set();
    ASSERT_EQ(WAIT_OBJECT_0, worker.Lock(kWaitLimitMs, false));
    EXPECT_EQ(S_OK, worker.Start(nullptr, 0, false));
    EXPECT_EQ(WAIT_TIMEOUT, worker.StopEvent().Lock(0, false));
    worker.Stop(false);
    EXPECT_EQ(0, worker.Stop(true));
}

TEST(CEventThread, StopOfAThreadThatDoesNotRunSignalsNothing) {
    Worker never;
    EXPECT_EQ(0, never.Stop(false));
    EXPECT_EQ(0, never.Stop(true));
    EXPECT_EQ(WAIT_TIMEOUT, never.StopEvent().Lock(0, false));

    Worker quick([](Worker&) {});
    quick.Start(nullptr, 0, false);
    ASSERT_EQ(WAIT_OBJECT_0, quick.Lock(kWaitLimitMs, false));
    EXPECT_EQ(0, quick.Stop(false));
    EXPECT_EQ(WAIT_TIMEOUT, quick.StopEvent().Lock(0, false));
}

TEST(CEventThread, TheThreadLockIsFreeWhileStopWaitsForTheWorker) {
    // Once stopped, the worker asks another thread to use the thread object
    // and only ends when that call returned (or a limit passed).
    std::future<std::pair<bool, LONG>> probe;
    bool probeReturned = false;
    Worker worker([&](Worker& self) {
        self.StopEvent().Lock(INFINITE, false);
        probe = std::async(std::launch::async,
                           [&self] { return std::make_pair(self.IsRunning(), self.Stop(false)); });
        probeReturned = probe.wait_for(5s) == std::future_status::ready;
    });
    worker.Start(nullptr, 0, false);

    EXPECT_EQ(0, worker.Stop(true));
    EXPECT_TRUE(probeReturned) << "Stop held the thread lock while waiting";
    const auto [runningSeen, stopResult] = probe.get();
    EXPECT_TRUE(runningSeen);
    EXPECT_NE(0, stopResult);
}

TEST(CEventThread, ExitCodeIsZeroOrTheCodeOfWhatEscapedRun) {
    struct Case {
        std::function<void(Worker&)> body;
        DWORD exitCode;
    };
    const std::vector<Case> cases = {
        {[](Worker&) {}, 0},
        {[](Worker&) { RaiseCAException(0x80070005, "worker", "Mar 16 2009", 1); }, 0x80070005},
        {[](Worker&) { RaiseCAException(1722, "worker", "Mar 16 2009", 1); }, 1722},
        {[](Worker&) { throw std::runtime_error("not ours"); }, 0x80004005},
        {[](Worker&) { throw 7; }, 0x80004005},
    };
    for (const auto& c : cases) {
        Worker worker(c.body);
        worker.Start(nullptr, 0, false);
        ASSERT_EQ(WAIT_OBJECT_0, worker.Lock(kWaitLimitMs, false));
        EXPECT_EQ(c.exitCode, ExitCodeOf(worker));
    }
}

TEST(CEventThread, CreationFailureRaisesTheWin32ErrorAsHResult) {
    CEventThread<FailingCreator<ERROR_NOT_ENOUGH_MEMORY>> outOfMemory;
    try {
        outOfMemory.Start(nullptr, 0, false);
        ADD_FAILURE() << "failed creation accepted";
    } catch (const CAException& e) {
        ExpectRaisedHere(e, static_cast<std::int32_t>(0x80070008), 178);
    }
    EXPECT_EQ(nullptr, outOfMemory.Handle());
    EXPECT_EQ(0u, outOfMemory.ThreadId());
    EXPECT_FALSE(outOfMemory.IsRunning());

    CEventThread<FailingCreator<0>> noError;
    try {
        noError.Start(nullptr, 0, false);
        ADD_FAILURE() << "failed creation accepted";
    } catch (const CAException& e) {
        ExpectRaisedHere(e, E_FAIL, 178);
    }
}
