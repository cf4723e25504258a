#include "service/change_icon_notifier.h"

#include <optional>

#include "com/bstr.h"
#include "connections/worker_pool.h"
#include "service/client_call_result.h"

// One client's sink and what is still to be told to it.
struct ChangeIconNotifier::Channel {
    explicit Channel(IChangeIconEvents* events) : sink(events) {}

    const KRVN::com_ptr<IChangeIconEvents> sink;
    std::mutex lock;
    // A worker is delivering to this sink.
    bool calling = false;
    // Dropped by the client's replacement or death: nothing more goes out.
    bool closed = false;
    std::optional<LONG> state;
    std::wstring lost;
};

namespace {

// Appends each address of more (each line-feed ended) that lost lacks.
void MergeLost(std::wstring& lost, const std::wstring& more) {
    for (size_t start = 0; start < more.size();) {
        const size_t end = more.find(L'\n', start);
        const size_t stop = end == std::wstring::npos ? more.size() : end + 1;
        const std::wstring line = more.substr(start, stop - start);
        if ((L"\n" + lost).find(L"\n" + line) == std::wstring::npos) {
            lost += line;
        }
        start = stop;
    }
}

} // namespace

ChangeIconNotifier::ChangeIconNotifier() = default;
ChangeIconNotifier::~ChangeIconNotifier() {
    SetSink(nullptr);
}

void ChangeIconNotifier::SetSink(IChangeIconEvents* sink) {
    std::shared_ptr<Channel> replaced;
    {
        std::lock_guard<std::mutex> hold(m_lock);
        replaced = std::move(m_channel);
        if (sink) {
            m_channel = std::make_shared<Channel>(sink);
        }
    }
    if (replaced) {
        std::lock_guard<std::mutex> hold(replaced->lock);
        replaced->closed = true;
        replaced->state.reset();
    }
    // The previous sink is released with its channel, outside these locks.
}

bool ChangeIconNotifier::HasSink() {
    std::lock_guard<std::mutex> hold(m_lock);
    return static_cast<bool>(m_channel);
}

void ChangeIconNotifier::Notify(LONG state, const std::wstring& lost) {
    std::shared_ptr<Channel> channel;
    {
        std::lock_guard<std::mutex> hold(m_lock);
        channel = m_channel;
    }
    if (!channel) {
        return;
    }
    {
        std::lock_guard<std::mutex> hold(channel->lock);
        if (channel->closed) {
            return;
        }
        channel->state = state;
        MergeLost(channel->lost, lost);
        if (channel->calling) {
            return;
        }
        channel->calling = true;
    }
    try {
        WorkerPool::Shared().Run([channel] {
            Deliver(channel);
            return 0;
        });
    } catch (...) {
        // No worker could be had: the report waits for the next one.
        std::lock_guard<std::mutex> hold(channel->lock);
        channel->calling = false;
    }
}

void ChangeIconNotifier::Deliver(const std::shared_ptr<Channel>& channel) {
    for (;;) {
        LONG state = 0;
        std::wstring lost;
        {
            std::lock_guard<std::mutex> hold(channel->lock);
            if (channel->closed || !channel->state) {
                channel->calling = false;
                return;
            }
            state = *channel->state;
            lost.swap(channel->lost);
            channel->state.reset();
        }
        const KRVN::unique_bstr addresses(lost.c_str());
        const HRESULT hr =
            channel->sink->ChangeIcon(static_cast<eConnectState>(state), addresses.get());
        if (IsClientGone(hr)) {
            std::lock_guard<std::mutex> hold(channel->lock);
            channel->closed = true;
        }
    }
}
