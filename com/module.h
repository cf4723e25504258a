#pragma once
// The program's COM module: how many of our objects live and how many server
// locks clients hold. A local server ends when both fall to zero; how it ends
// is its host's business, told through the unused handler.

#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <functional>
#include <mutex>

namespace KRVN::com {

class Module {
public:
    static Module& Instance() noexcept;

    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    // Every live ComObject counts once, from construction to destruction.
    void AddObject() noexcept;
    void ReleaseObject() noexcept;
    // IClassFactory::LockServer.
    void Lock() noexcept;
    void Unlock() noexcept;

    long ObjectCount() const noexcept { return m_objects.load(); }
    long LockCount() const noexcept { return m_locks.load(); }

    // Runs on the thread that released the last object or lock, each time
    // the module becomes unused.
    void SetUnusedHandler(std::function<void()> handler);

    // Also counts objects and locks in COM's reference on the server process
    // (CoAddRefServerProcess / CoReleaseServerProcess): when that reference
    // falls to zero COM suspends our class objects itself, so no activation
    // can slip in while the host shuts down. Turn on before registering the
    // class objects, and leave on.
    void TrackServerProcess() noexcept { m_trackServerProcess = true; }

private:
    Module() = default;

    void Acquire(std::atomic<long>& count) noexcept;
    void Drop(std::atomic<long>& count) noexcept;

    std::atomic<long> m_objects{0};
    std::atomic<long> m_locks{0};
    std::atomic<long> m_total{0};
    std::atomic<bool> m_trackServerProcess{false};
    std::mutex m_handlerLock;
    std::function<void()> m_unused;
};

} // namespace KRVN::com
