#pragma once
// Reports written on a worker, in the order they were posted, so that an
// alarm pass or a client call never waits for the event log (nor for the
// formatting that comes before it). The destructor waits until everything
// posted has been written: the reporter must outlive the queue. A post that
// finds no worker writes its reports itself, so the queue never stays
// waiting for a worker that was never had.

#include <windows.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

#include "service/event_reporter.h"

class EventQueue {
public:
    // Builds its events and hands them to the reporter.
    using Job = std::function<void(EventReporter&)>;

    EventQueue() = default;
    ~EventQueue();
    EventQueue(const EventQueue&) = delete;
    EventQueue& operator=(const EventQueue&) = delete;

    // Jobs posted before a reporter is set are dropped.
    void SetReporter(EventReporter& reporter);
    void Post(Job job);
    // Waits until everything posted so far has been written; false when
    // timeoutMs passed first.
    bool WaitUntilWritten(DWORD timeoutMs);

private:
    void Drain() noexcept;

    std::mutex m_lock;
    std::condition_variable m_drained;
    EventReporter* m_reporter = nullptr;
    std::deque<Job> m_jobs;
    bool m_draining = false;
};
