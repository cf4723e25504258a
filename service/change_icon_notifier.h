#pragma once
// The desktop client's state callback (IChangeIconEvents), called so that no
// client can hold the service up: each report goes out on a worker and
// nobody waits for it. While a call into a client has not returned, later
// reports for that client wait, merged into one (the newest state, every
// lost address once), and follow as soon as it returns; a client that
// replaced it is called at once. A client whose handler calls back into the
// service (RefreshState, Remove) is served, since nothing it could wait for
// waits on it. A client found gone is forgotten.

#include <windows.h>

#include <memory>
#include <mutex>
#include <string>

#include "com/com_ptr.h"
#include "contract/TolvaneLib.h"

class ChangeIconNotifier {
public:
    ChangeIconNotifier();
    ~ChangeIconNotifier();
    ChangeIconNotifier(const ChangeIconNotifier&) = delete;
    ChangeIconNotifier& operator=(const ChangeIconNotifier&) = delete;

    // A sink replaces (and releases) the stored one; null empties the slot.
    void SetSink(IChangeIconEvents* sink);
    bool HasSink();
    // lost: addresses, each followed by a line feed.
    void Notify(LONG state, const std::wstring& lost);

private:
    struct Channel;
    static void Deliver(const std::shared_ptr<Channel>& channel);

    std::mutex m_lock;
    std::shared_ptr<Channel> m_channel;
};
