#include "connections/socket_connector.h"

#include <mstcpip.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cstring>
#include <string_view>

#include "common/code_page.h"

namespace {

constexpr int kReplySize = 10;
const char kAlarm[] = "unmount";
constexpr std::wstring_view kPasswordPrefix = L"psw=";

using unique_addrinfo = KRVN::unique_any<KRVN::close_with<addrinfo*, ::freeaddrinfo>>;

// A failed keep-alive setting leaves the connection usable: it is not an error.
void SetKeepAlive(SOCKET socket) {
    tcp_keepalive settings{};
    settings.onoff = 1;
    settings.keepalivetime = SocketConnector::kKeepAliveIdleMs;
    settings.keepaliveinterval = SocketConnector::kKeepAliveIntervalMs;
    DWORD returned = 0;
    ::WSAIoctl(socket, SIO_KEEPALIVE_VALS, &settings, sizeof settings, nullptr, 0, &returned,
               nullptr, nullptr);
}

// True when the peer has already ended the connection (its FIN or reset is
// here): a send would still succeed locally and its bytes would be lost.
// Looks without waiting, whether or not the close watcher has run yet.
bool PeerHasEnded(SOCKET socket) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(socket, &readable);
    timeval now{0, 0};
    const int ready = ::select(0, &readable, nullptr, nullptr, &now);
    if (ready != 1) {
        return ready == SOCKET_ERROR;
    }
    char next = 0;
    const int peeked = ::recv(socket, &next, 1, MSG_PEEK);
    return peeked == 0 || (peeked == SOCKET_ERROR && ::WSAGetLastError() != WSAEWOULDBLOCK);
}

// Connects a non-blocking socket, waiting at most the connector's bound.
std::int32_t ConnectWithin(SOCKET socket, const sockaddr_in& target) {
    if (::connect(socket, reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0) {
        return 0;
    }
    const int error = ::WSAGetLastError();
    if (error != WSAEWOULDBLOCK) {
        return error;
    }
    fd_set writable;
    fd_set failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(socket, &writable);
    FD_SET(socket, &failed);
    timeval limit{SocketConnector::kConnectWaitSeconds, 0};
    const int ready = ::select(0, nullptr, &writable, &failed, &limit);
    if (ready == SOCKET_ERROR) {
        return ::WSAGetLastError();
    }
    if (ready == 0) {
        return WSAETIMEDOUT;
    }
    int status = 0;
    int size = sizeof status;
    if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&status), &size) != 0) {
        return ::WSAGetLastError();
    }
    if (FD_ISSET(socket, &failed) && status == 0) {
        return WSAECONNREFUSED;
    }
    return status;
}

} // namespace

SocketConnector::SocketConnector(IQNServer* server) : Connector(server) {}

SocketConnector::~SocketConnector() {
    // The watcher reads this object's socket: it must have ended before
    // either goes away.
    m_waitor.Stop(true);
}

std::int32_t SocketConnector::Connect() {
    std::lock_guard<std::mutex> attempt(m_connectLock);
    // An alarm may have connected again while this probe waited its turn.
    if (m_open && m_waitor.IsRunning()) {
        return 0;
    }
    return ConnectLocked();
}

std::int32_t SocketConnector::ConnectLocked() {
    // Whatever was open is dead or forgotten: its watcher goes first, since
    // it reads the socket.
    m_waitor.Stop(true);
    m_open = false;
    m_lost = false;
    {
        std::lock_guard<std::mutex> hold(m_socketLock);
        m_socket.reset();
    }
    const std::string address = KRVN::WideToCodePage(CP_THREAD_ACP, GetAddress());
    unique_socket socket;
    if (const std::int32_t error = OpenSocket(address, GetPort(), socket)) {
        return error;
    }
    if (!SendPassword(socket.get())) {
        return kPasswordRefused;
    }
    {
        std::lock_guard<std::mutex> hold(m_socketLock);
        m_socket = std::move(socket);
    }
    // Open before the watcher runs, so an end it sees at once is not lost.
    m_open = true;
    try {
        m_waitor.SetConnector(this);
        m_waitor.Start(nullptr, 0, false);
    } catch (const CAException& e) {
        m_open = false;
        std::lock_guard<std::mutex> hold(m_socketLock);
        m_socket.reset();
        return e.Code();
    }
    return 0;
}

std::int32_t SocketConnector::SendAlarm() {
    NoticeEnd();
    const std::int32_t code = SendOnOpenConnection();
    if (code == 0 || !m_lost) {
        return code;
    }
    {
        std::lock_guard<std::mutex> attempt(m_connectLock);
        // A probe may have connected again meanwhile.
        if (!m_open) {
            if (const std::int32_t error = ConnectLocked()) {
                return error;
            }
        }
    }
    return SendOnOpenConnection();
}

std::int32_t SocketConnector::SendOnOpenConnection() {
    if (!m_open) {
        return m_lost ? WSAENOTCONN : WSAENOTSOCK;
    }
    std::lock_guard<std::mutex> hold(m_socketLock);
    if (!m_socket) {
        return WSAENOTSOCK;
    }
    if (::send(m_socket.get(), kAlarm, static_cast<int>(sizeof kAlarm - 1), 0) == SOCKET_ERROR) {
        const int error = ::WSAGetLastError();
        // Whatever the reason, the order did not go out here: the next
        // attempt takes a new connection.
        m_open = false;
        m_lost = true;
        return error;
    }
    return 0;
}

bool SocketConnector::IsConnected() {
    return m_waitor.IsRunning();
}

SOCKET SocketConnector::NativeSocket() {
    return WatchedSocket();
}

std::int32_t SocketConnector::OpenSocket(const std::string& address, std::uint32_t port,
                                         unique_socket& socket) {
    socket.reset(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!socket) {
        return ::WSAGetLastError();
    }
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(static_cast<u_short>(port & 0xFFFF));
    if (::inet_pton(AF_INET, address.c_str(), &target.sin_addr) != 1) {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        unique_addrinfo found;
        if (const int error = ::getaddrinfo(address.c_str(), nullptr, &hints, found.put())) {
            return error;
        }
        target.sin_addr = reinterpret_cast<const sockaddr_in*>(found.get()->ai_addr)->sin_addr;
    }
    // Non-blocking for good: the connection attempt is bounded, and an
    // alarm's send must never block.
    u_long nonBlocking = 1;
    if (::ioctlsocket(socket.get(), FIONBIO, &nonBlocking) != 0) {
        return ::WSAGetLastError();
    }
    SetKeepAlive(socket.get());
    return ConnectWithin(socket.get(), target);
}

bool SocketConnector::SendPassword(SOCKET socket) {
    const SecretWString password = GetPassword();
    SecretWString text;
    text.Text().reserve(kPasswordPrefix.size() + password.Text().size());
    text.Text().append(kPasswordPrefix).append(password.Text());
    SecretString message;
    KRVN::WideToCodePage(CP_THREAD_ACP, text.Text(), message.Text());
    if (::send(socket, message.Text().data(), static_cast<int>(message.Text().size()), 0) ==
        SOCKET_ERROR) {
        return false;
    }
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(socket, &readable);
    timeval limit{kReplyWaitSeconds, 0};
    if (::select(0, &readable, nullptr, nullptr, &limit) != 1) {
        return false;
    }
    char reply[kReplySize] = {};
    if (::recv(socket, reply, kReplySize, 0) == SOCKET_ERROR) {
        return false;
    }
    return std::memcmp(reply, "yes", 3) == 0;
}

void SocketConnector::NoticeEnd() {
    std::lock_guard<std::mutex> hold(m_socketLock);
    if (m_open && m_socket && PeerHasEnded(m_socket.get())) {
        OnConnectionEnded();
    }
}

void SocketConnector::NoticeEndedConnections(const std::vector<SocketConnector*>& connectors) {
    for (size_t first = 0; first < connectors.size(); first += FD_SETSIZE) {
        const size_t end = std::min(connectors.size(), first + FD_SETSIZE);
        fd_set readable;
        FD_ZERO(&readable);
        std::vector<std::pair<SOCKET, SocketConnector*>> looked;
        for (size_t i = first; i < end; ++i) {
            const SOCKET socket =
                connectors[i]->m_open ? connectors[i]->WatchedSocket() : INVALID_SOCKET;
            if (socket != INVALID_SOCKET) {
                FD_SET(socket, &readable);
                looked.emplace_back(socket, connectors[i]);
            }
        }
        timeval now{0, 0};
        if (looked.empty() || ::select(0, &readable, nullptr, nullptr, &now) <= 0) {
            continue;
        }
        // Readable is rare on an alarm connection: a FIN, a reset or stray
        // bytes. Each is looked at again under its own lock.
        for (const auto& [socket, connector] : looked) {
            if (FD_ISSET(socket, &readable)) {
                connector->NoticeEnd();
            }
        }
    }
}

SOCKET SocketConnector::WatchedSocket() {
    std::lock_guard<std::mutex> hold(m_socketLock);
    return m_socket.get();
}

void SocketConnector::OnConnectionEnded() noexcept {
    m_open = false;
    m_lost = true;
}
