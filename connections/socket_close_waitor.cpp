#include "connections/socket_close_waitor.h"

#include "connections/socket_connector.h"

namespace {

// WSA_INVALID_EVENT is null.
using unique_wsa_event = KRVN::unique_any<KRVN::close_with<WSAEVENT, ::WSACloseEvent>>;

} // namespace

void SocketCloseWaitor::Run() {
    if (!m_connector) {
        return;
    }
    const SOCKET socket = m_connector->WatchedSocket();
    unique_wsa_event notified(::WSACreateEvent());
    if (!notified || ::WSAEventSelect(socket, notified.get(), FD_READ | FD_CLOSE) != 0) {
        // A connection nobody watches cannot be trusted with an order.
        m_connector->OnConnectionEnded();
        return;
    }
    // The socket forgets the event before the event is closed.
    const auto deselect = KRVN::scope_exit([socket] { ::WSAEventSelect(socket, nullptr, 0); });
    const HANDLE waits[] = {StopEvent().Handle(), notified.get()};
    for (;;) {
        if (::WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) {
            // Stopped (or the wait failed, and the connection is then as
            // good as unwatched).
            if (StopEvent().Lock(0, false) != WAIT_OBJECT_0) {
                m_connector->OnConnectionEnded();
            }
            return;
        }
        WSANETWORKEVENTS events{};
        if (::WSAEnumNetworkEvents(socket, notified.get(), &events) != 0 ||
            (events.lNetworkEvents & FD_CLOSE) != 0) {
            m_connector->OnConnectionEnded();
            return;
        }
        if ((events.lNetworkEvents & FD_READ) != 0 && m_connector->DrainForWatcher()) {
            return;
        }
    }
}
