#include "connections/worker_pool.h"

#include <chrono>
#include <system_error>
#include <thread>

#include "com/unique_couninitialize.h"

WorkerPool& WorkerPool::Shared() {
    static WorkerPool* const pool = new WorkerPool;
    return *pool;
}

std::shared_ptr<PendingResult> WorkerPool::Run(Task task) {
    Job job{std::move(task), std::make_shared<PendingResult>()};
    auto result = job.result;
    std::unique_lock<std::mutex> hold(m_lock);
    // Idle workers not yet claimed by queued jobs take this one.
    if (m_idle > m_jobs.size()) {
        m_jobs.push_back(std::move(job));
        hold.unlock();
        m_wake.notify_one();
        return result;
    }
    m_jobs.push_back(std::move(job));
    ++m_threads;
    try {
        std::thread(&WorkerPool::Work, this).detach();
    } catch (const std::system_error&) {
        --m_threads;
        // Nobody took a job while the lock was held: ours is still the last.
        Job own = std::move(m_jobs.back());
        m_jobs.pop_back();
        hold.unlock();
        Execute(own);
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
        if (m_jobs.empty()) {
            ++m_idle;
            const bool woken = m_wake.wait_for(hold, std::chrono::milliseconds(kIdleMs),
                                               [this] { return !m_jobs.empty(); });
            --m_idle;
            if (!woken) {
                --m_threads;
                return;
            }
        }
        Job job = std::move(m_jobs.front());
        m_jobs.pop_front();
        hold.unlock();
        Execute(job);
        hold.lock();
    }
}

void WorkerPool::Execute(Job& job) noexcept {
    std::int32_t result = E_FAIL;
    try {
        result = job.task();
    } catch (...) {
        // A task that throws has failed, and the worker goes on.
    }
    job.task = nullptr;
    job.result->Complete(result);
}
