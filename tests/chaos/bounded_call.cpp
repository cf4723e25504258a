#include "tests/chaos/bounded_call.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "com/unique_couninitialize.h"
#include "tests/support/wait.h"

namespace krvn_chaos {

namespace {

struct CallState {
    std::mutex lock;
    std::condition_variable done;
    bool finished = false;
    bool abandoned = false;
    HRESULT result = E_PENDING;
    std::shared_ptr<std::atomic<bool>> returned = std::make_shared<std::atomic<bool>>(false);
};

} // namespace

CallOutcome BoundedCalls::Run(std::function<HRESULT()> call, DWORD boundMs) {
    const auto state = std::make_shared<CallState>();
    const ULONGLONG started = ::GetTickCount64();
    std::thread([state, call = std::move(call), stillOut = m_stillOut] {
        HRESULT result = E_FAIL;
        {
            const KRVN::unique_couninitialize apartment(COINIT_MULTITHREADED);
            result = call();
        }
        std::lock_guard<std::mutex> hold(state->lock);
        state->finished = true;
        state->result = result;
        *state->returned = true;
        if (state->abandoned) {
            --*stillOut;
        }
        state->done.notify_all();
    }).detach();

    CallOutcome outcome;
    outcome.finished = state->returned;
    std::unique_lock<std::mutex> hold(state->lock);
    outcome.returned = state->done.wait_for(hold, std::chrono::milliseconds(boundMs),
                                            [&] { return state->finished; });
    outcome.ms = ::GetTickCount64() - started;
    if (outcome.returned) {
        outcome.result = state->result;
    } else {
        state->abandoned = true;
        ++*m_stillOut;
    }
    return outcome;
}

bool BoundedCalls::WaitForAbandoned(DWORD boundMs) const {
    return krvn_test::WaitUntil([this] { return m_stillOut->load() == 0; }, boundMs, 100);
}

} // namespace krvn_chaos
