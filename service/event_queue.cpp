#include "service/event_queue.h"

#include <chrono>

#include "connections/worker_pool.h"

EventQueue::~EventQueue() {
    std::unique_lock<std::mutex> hold(m_lock);
    m_drained.wait(hold, [this] { return !m_draining; });
}

void EventQueue::SetReporter(EventReporter& reporter) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_reporter = &reporter;
}

void EventQueue::Post(Job job) {
    {
        std::lock_guard<std::mutex> hold(m_lock);
        if (!m_reporter) {
            return;
        }
        m_jobs.push_back(std::move(job));
        if (m_draining) {
            return;
        }
        m_draining = true;
    }
    // Outside the lock: without a free thread the pool runs the drain here.
    try {
        WorkerPool::Shared().Run([this] {
            Drain();
            return 0;
        });
    } catch (...) {
        Drain();
    }
}

bool EventQueue::WaitUntilWritten(DWORD timeoutMs) {
    std::unique_lock<std::mutex> hold(m_lock);
    return m_drained.wait_for(hold, std::chrono::milliseconds(timeoutMs),
                              [this] { return !m_draining; });
}

void EventQueue::Drain() noexcept {
    std::unique_lock<std::mutex> hold(m_lock);
    while (!m_jobs.empty()) {
        Job job = std::move(m_jobs.front());
        m_jobs.pop_front();
        EventReporter& reporter = *m_reporter;
        hold.unlock();
        try {
            job(reporter);
        } catch (...) {
            // A report that could not be made is lost; the ones after it are not.
        }
        job = nullptr;
        hold.lock();
    }
    m_draining = false;
    m_drained.notify_all();
}
