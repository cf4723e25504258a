#include "service/policy_watch.h"

#include <utility>

#include "common/unique_handle.h"

namespace {

// The nearest of these that exists is watched, with its subkeys.
constexpr const wchar_t* kWatchedKeys[] = {L"SOFTWARE\\Policies", L"SOFTWARE"};

// Adding or deleting a subkey, or a value set or deleted anywhere below.
constexpr DWORD kChanges = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET;

// What is watched: the key, opened for notification, and whether it is the
// policies' own key or a stand-in for it.
class WatchedKey {
public:
    // Opens the nearest key that exists, unless it is open already; 0 or the
    // Win32 error.
    LSTATUS Open() {
        if (m_key && m_isPolicies) {
            return ERROR_SUCCESS;
        }
        LSTATUS status = ERROR_FILE_NOT_FOUND;
        for (const wchar_t* path : kWatchedKeys) {
            KRVN::unique_hkey key;
            status = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_NOTIFY, key.put());
            if (status == ERROR_SUCCESS) {
                // Closing the stand-in signals its pending notification: one
                // more read, no harm.
                m_key = std::move(key);
                m_isPolicies = path == kWatchedKeys[0];
                return status;
            }
        }
        return status;
    }

    // One notification, signalled on event: the call reports one change and
    // is made again after each. This thread lives as long as the watch, so
    // the notification is not tied to a thread that goes away.
    LSTATUS Arm(HANDLE event) const {
        return ::RegNotifyChangeKeyValue(m_key.get(), TRUE, kChanges, event, TRUE);
    }

private:
    KRVN::unique_hkey m_key;
    bool m_isPolicies = false;
};

} // namespace

PolicyWatch::PolicyWatch(std::function<void()> changed, std::function<void(DWORD)> failed)
    : m_changed(std::move(changed)), m_failed(std::move(failed)) {}

void PolicyWatch::Run() {
    const auto notified = KRVN::unique_event::create(false);
    const HANDLE handles[] = {StopEvent().Handle(), notified.get()};
    WatchedKey key;
    // Arms the notification once the last one has been signalled; false when
    // the key cannot be watched (reported).
    bool armed = false;
    const auto arm = [&] {
        if (armed) {
            return true;
        }
        LSTATUS status = key.Open();
        if (status == ERROR_SUCCESS) {
            status = key.Arm(notified.get());
        }
        if (status != ERROR_SUCCESS) {
            m_failed(static_cast<DWORD>(status));
            return false;
        }
        armed = true;
        return true;
    };
    for (;;) {
        // Armed before the read: a change written meanwhile signals.
        if (!arm()) {
            return;
        }
        m_changed();
        if (::WaitForMultipleObjects(2, handles, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) {
            return;
        }
        armed = false;
        for (int round = 0; round < kSettleRounds; ++round) {
            if (!arm()) {
                return;
            }
            const DWORD waited = ::WaitForMultipleObjects(2, handles, FALSE, kSettleMs);
            if (waited == WAIT_TIMEOUT) {
                break;
            }
            if (waited != WAIT_OBJECT_0 + 1) {
                return;
            }
            armed = false;
        }
    }
}
