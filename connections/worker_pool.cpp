#include "connections/worker_pool.h"

#include <chrono>
#include <system_error>
#include <thread>

#include "com/unique_couninitialize.h"

namespace {

std::int32_t Execute(WorkerPool::Task& task) noexcept {
    std::int32_t result = E_FAIL;
    try {
        result = task();
    } catch (...) {
        // A task that throws has failed, and the worker goes on.
    }
    // What the task held goes before its caller hears of the result.
    task = nullptr;
    return result;
}

} // namespace

WorkerPool& WorkerPool::Shared() {
    static WorkerPool* const pool = new WorkerPool;
    return *pool;
}

WorkerPool::~WorkerPool() {
    {
        std::lock_guard<std::mutex> hold(m_state->lock);
        m_state->closed = true;
    }
    m_state->wake.notify_all();
}

std::shared_ptr<PendingResult> WorkerPool::Run(Task task) {
    State& state = *m_state;
    Job job{std::move(task), std::make_shared<PendingResult>()};
    auto result = job.result;
    std::unique_lock<std::mutex> hold(state.lock);
    // Workers not running a task, and not yet claimed by a queued one, take it.
    const bool freeWorker = state.threads - state.busy > state.jobs.size();
    state.jobs.push_back(std::move(job));
    if (freeWorker) {
        hold.unlock();
        state.wake.notify_one();
        return result;
    }
    ++state.threads;
    try {
        std::thread(&WorkerPool::Work, m_state).detach();
    } catch (const std::system_error&) {
        --state.threads;
        // Nobody took a job while the lock was held: ours is still the last.
        Job own = std::move(state.jobs.back());
        state.jobs.pop_back();
        hold.unlock();
        own.result->Complete(Execute(own.task));
    }
    return result;
}

size_t WorkerPool::ThreadCount() const {
    std::lock_guard<std::mutex> hold(m_state->lock);
    return m_state->threads;
}

// The worker holds its own reference to the state: the pool may go away
// while it runs.
void WorkerPool::Work(std::shared_ptr<State> shared) {
    State& state = *shared;
    const KRVN::unique_couninitialize apartment(COINIT_MULTITHREADED);
    std::unique_lock<std::mutex> hold(state.lock);
    for (;;) {
        if (state.jobs.empty() &&
            !state.wake.wait_for(hold, std::chrono::milliseconds(kIdleMs),
                                 [&state] { return !state.jobs.empty() || state.closed; })) {
            if (state.threads <= kKeptWorkers) {
                continue;
            }
            --state.threads;
            return;
        }
        if (state.jobs.empty()) {
            // Woken by the pool's end with nothing left to do.
            --state.threads;
            return;
        }
        Job job = std::move(state.jobs.front());
        state.jobs.pop_front();
        ++state.busy;
        hold.unlock();
        const std::int32_t result = Execute(job.task);
        hold.lock();
        // Free again before the caller wakes, so its next task finds this
        // worker instead of making another.
        --state.busy;
        job.result->Complete(result);
    }
}
