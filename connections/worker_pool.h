#pragma once
// Threads for work that may block on a peer: alarms, probes and calls into
// clients. A task goes to an idle worker, or to a new one when none is idle,
// so a task that hangs never holds back the tasks after it. Workers beyond
// the few kept that stay idle end after a while. Each worker is in the multithreaded apartment.
//
// A task must own whatever it uses (copies, shared references): its caller
// may stop waiting for it and go away first. So may the pool: its workers
// share its state, finish what was queued, and then end.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "connections/pending_result.h"

class WorkerPool {
public:
    using Task = std::function<std::int32_t()>;

    // How long a worker waits for a task before it ends: long enough to
    // serve a burst of orders and probes, short enough that a quiet service
    // holds no threads it does not need.
    static constexpr DWORD kIdleMs = 2000;
    // Workers kept for the next burst however long it takes to come: a
    // press should not wait for threads to be made.
    static constexpr size_t kKeptWorkers = 4;

    // The process's pool; never destroyed, since abandoned workers may still
    // run at exit.
    static WorkerPool& Shared();

    WorkerPool() = default;
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // Starts task; its return value completes the result. When no thread can
    // be had the task runs on the calling thread: late beats never.
    std::shared_ptr<PendingResult> Run(Task task);

    // Workers alive now, busy or idle.
    size_t ThreadCount() const;

private:
    struct Job {
        Task task;
        std::shared_ptr<PendingResult> result;
    };

    struct State {
        mutable std::mutex lock;
        std::condition_variable wake;
        std::deque<Job> jobs;
        size_t threads = 0;
        // Workers running a task now.
        size_t busy = 0;
        // The pool is gone: workers end once the queue is empty.
        bool closed = false;
    };

    static void Work(std::shared_ptr<State> state);

    const std::shared_ptr<State> m_state = std::make_shared<State>();
};
