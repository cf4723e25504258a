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
    unique_wsa_event closed(::WSACreateEvent());
    if (!closed || !m_connector ||
        ::WSAEventSelect(m_connector->WatchedSocket(), closed.get(), FD_CLOSE) != 0) {
        return;
    }
    const HANDLE waits[] = {StopEvent().Handle(), closed.get()};
    ::WaitForMultipleObjects(2, waits, FALSE, INFINITE);
}
