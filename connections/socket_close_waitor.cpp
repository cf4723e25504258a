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
    unique_wsa_event closed(::WSACreateEvent());
    if (!closed || ::WSAEventSelect(m_connector->WatchedSocket(), closed.get(), FD_CLOSE) != 0) {
        // A connection nobody watches cannot be trusted with an order.
        m_connector->OnConnectionEnded();
        return;
    }
    const HANDLE waits[] = {StopEvent().Handle(), closed.get()};
    if (::WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
        m_connector->OnConnectionEnded();
    }
}
