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

std::shared_ptr<PendingResult> WorkerPool::Run(Task task) {
    Job job{std::move(task), std::make_shared<PendingResult>()};
    auto result = job.result;
    std::unique_lock<std::mutex> hold(m_lock);
    // Workers not running a task, and not yet claimed by a queued one, take it.
    const bool freeWorker = m_threads - m_busy > m_jobs.size();
    m_jobs.push_back(std::move(job));
    if (freeWorker) {
        hold.unlock();
        m_wake.notify_one();
        return result;
    }
    ++m_threads;
    try {
        std::thread(&WorkerPool::Work, this).detach();
    } catch (const std::system_error&) {
        --m_threads;
        // Nobody took a job while the lock was held: ours is still the last.
        Job own = std::move(m_jobs.back());
        m_jobs.pop_back();
        hold.unlock();
        own.result->Complete(Execute(own.task));
    }
    return result;
}

size_t WorkerPool::ThreadCount() const {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_threads;
}

void WorkerPool::Work() {
    const KRVN::unique_couninitialize apartment(COINIT_MULTITHREADED);
    std::unique_lock<std::mutex> hold(m_lock);
    for (;;) {
        if (m_jobs.empty() && !m_wake.wait_for(hold, std::chrono::milliseconds(kIdleMs),
                                               [this] { return !m_jobs.empty(); })) {
            if (m_threads <= kKeptWorkers) {
                continue;
            }
            --m_threads;
            return;
        }
        Job job = std::move(m_jobs.front());
        m_jobs.pop_front();
        ++m_busy;
        hold.unlock();
        const std::int32_t result = Execute(job.task);
        hold.lock();
        // Free again before the caller wakes, so its next task finds this
        // worker instead of making another.
        --m_busy;
        job.result->Complete(result);
    }
}
