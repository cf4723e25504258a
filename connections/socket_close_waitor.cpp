#include "connections/socket_close_waitor.h"

#include "connections/socket_connector.h"

namespace {

struct WsaEventTraits {
    using type = WSAEVENT;
    static type invalid() noexcept { return WSA_INVALID_EVENT; }
    static void close(type value) noexcept { ::WSACloseEvent(value); }
};

using unique_wsa_event = KRVN::unique_any<WsaEventTraits>;

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
