#include "com/module.h"

namespace KRVN::com {

Module& Module::Instance() noexcept {
    static Module module;
    return module;
}

void Module::AddObject() noexcept {
    Acquire(m_objects);
}

void Module::ReleaseObject() noexcept {
    Drop(m_objects);
}

void Module::Lock() noexcept {
    Acquire(m_locks);
}

void Module::Unlock() noexcept {
    Drop(m_locks);
}

void Module::SetUnusedHandler(std::function<void()> handler) {
    std::lock_guard<std::mutex> guard(m_handlerLock);
    m_unused = std::move(handler);
}

void Module::Acquire(std::atomic<long>& count) noexcept {
    ++count;
    ++m_total;
    if (m_trackServerProcess) {
        ::CoAddRefServerProcess();
    }
}

void Module::Drop(std::atomic<long>& count) noexcept {
    --count;
    bool unused = --m_total == 0;
    if (m_trackServerProcess) {
        unused = ::CoReleaseServerProcess() == 0;
    }
    if (!unused) {
        return;
    }
    std::function<void()> handler;
    {
        std::lock_guard<std::mutex> guard(m_handlerLock);
        handler = m_unused;
    }
    if (handler) {
        handler();
    }
}

} // namespace KRVN::com
