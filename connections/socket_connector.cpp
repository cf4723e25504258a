#include "connections/socket_connector.h"

#include <mstcpip.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string_view>

#include "common/code_page.h"
#include "connections/worker_pool.h"

namespace {

constexpr int kReplySize = 10;
const char kAlarm[] = "unmount";
constexpr int kAlarmSize = static_cast<int>(sizeof kAlarm - 1);
constexpr std::wstring_view kPasswordPrefix = L"psw=";
// A server that keeps talking is read this much at one look, no more.
constexpr int kDrainReads = 16;

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

// Reads and drops whatever the server sent, without waiting (the socket is
// non-blocking): true when the server has ended the connection (its FIN or
// reset is here). Nothing the server says may sit unread, or its end would
// never show.
bool DrainEnded(SOCKET socket) {
    char discarded[256];
    for (int read = 0; read < kDrainReads; ++read) {
        const int got = ::recv(socket, discarded, sizeof discarded, 0);
        if (got == 0) {
            return true;
        }
        if (got == SOCKET_ERROR) {
            return ::WSAGetLastError() != WSAEWOULDBLOCK;
        }
    }
    return false;
}

timeval Timeval(DWORD ms) {
    return timeval{static_cast<long>(ms / 1000), static_cast<long>(ms % 1000) * 1000};
}

// The IPv4 address of a host name. The lookup runs on a worker, so a resolver
// that does not answer holds the order no longer than its deadline; it
// finishes on its own.
int Resolve(const std::string& name, in_addr& resolved, Deadline deadline) {
    struct Lookup {
        std::string name;
        in_addr address{};
    };
    const auto lookup = std::make_shared<Lookup>();
    lookup->name = name;
    const auto pending = WorkerPool::Shared().Run([lookup]() -> std::int32_t {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        unique_addrinfo found;
        if (const int error = ::getaddrinfo(lookup->name.c_str(), nullptr, &hints, found.put())) {
            return error;
        }
        lookup->address = reinterpret_cast<const sockaddr_in*>(found.get()->ai_addr)->sin_addr;
        return 0;
    });
    if (pending->WaitFor(MsLeft(deadline, SocketConnector::kLookupWaitMs)) !=
        PendingResult::Wait::Done) {
        return WSAETIMEDOUT;
    }
    if (const std::int32_t error = pending->Result()) {
        return error;
    }
    resolved = lookup->address;
    return 0;
}

// Connects a non-blocking socket, waiting at most the connector's bound.
std::int32_t ConnectWithin(SOCKET socket, const sockaddr_in& target, Deadline deadline) {
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
    timeval limit = Timeval(MsLeft(deadline, SocketConnector::kConnectWaitMs));
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
    std::lock_guard<std::timed_mutex> attempt(m_connectLock);
    // An alarm may have connected again while this probe waited its turn.
    if (m_open && m_waitor.IsRunning()) {
        return 0;
    }
    return ConnectLocked(kNoDeadline);
}

std::int32_t SocketConnector::ConnectLocked(Deadline deadline) {
    // Whatever was open is dead or forgotten: its watcher goes first, since
    // it reads the socket.
    m_waitor.Stop(true);
    m_open = false;
    {
        std::lock_guard<std::mutex> hold(m_socketLock);
        m_socket.reset();
    }
    const std::string address = KRVN::WideToCodePage(CP_THREAD_ACP, GetAddress());
    unique_socket socket;
    if (const std::int32_t error = OpenSocket(address, GetPort(), socket, deadline)) {
        return error;
    }
    if (!SendPassword(socket.get(), deadline)) {
        return kPasswordRefused;
    }
    // The rest of the reply, or anything said with it, is no part of the
    // connection's life; a server that hung up at once gave no connection.
    if (DrainEnded(socket.get())) {
        return WSAECONNRESET;
    }
    {
        std::lock_guard<std::mutex> hold(m_socketLock);
        m_socket = std::move(socket);
    }
    // Open before the watcher runs, so an end it sees at once is not lost.
    m_open = true;
    m_worked = true;
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
    return SendAlarmBy(kNoDeadline);
}

std::int32_t SocketConnector::SendAlarmBy(Deadline deadline) {
    NoticeEnd();
    const std::int32_t code = SendOnOpenConnection();
    if (code == 0) {
        return 0;
    }
    {
        // One attempt at a time: a probe's attempt under way may bring the
        // connection back before this order's turn comes.
        std::unique_lock<std::timed_mutex> attempt(m_connectLock, std::defer_lock);
        if (!attempt.try_lock_until(deadline)) {
            return WSAETIMEDOUT;
        }
        NoticeEnd();
        if (!m_open) {
            if (const std::int32_t error = ConnectLocked(deadline)) {
                return error;
            }
        }
    }
    return SendOnOpenConnection();
}

std::int32_t SocketConnector::SendOnOpenConnection() {
    if (!m_open) {
        return m_worked ? WSAENOTCONN : WSAENOTSOCK;
    }
    std::lock_guard<std::mutex> hold(m_socketLock);
    if (!m_socket) {
        return WSAENOTSOCK;
    }
    const int sent = ::send(m_socket.get(), kAlarm, kAlarmSize, 0);
    if (sent != kAlarmSize) {
        // Whatever the reason (a part of the order is no order), it did not
        // go out here: the next attempt takes a new connection.
        const int error = sent == SOCKET_ERROR ? ::WSAGetLastError() : WSAEWOULDBLOCK;
        OnConnectionEnded();
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
                                         unique_socket& socket, Deadline deadline) {
    socket.reset(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!socket) {
        return ::WSAGetLastError();
    }
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(static_cast<u_short>(port & 0xFFFF));
    if (::inet_pton(AF_INET, address.c_str(), &target.sin_addr) != 1) {
        if (const int error = Resolve(address, target.sin_addr, deadline)) {
            return error;
        }
    }
    // Non-blocking for good: the connection attempt is bounded, and an
    // alarm's send must never block.
    u_long nonBlocking = 1;
    if (::ioctlsocket(socket.get(), FIONBIO, &nonBlocking) != 0) {
        return ::WSAGetLastError();
    }
    SetKeepAlive(socket.get());
    return ConnectWithin(socket.get(), target, deadline);
}

bool SocketConnector::SendPassword(SOCKET socket, Deadline deadline) {
    const SecretWString password = GetPassword();
    SecretWString text;
    text.Text().reserve(kPasswordPrefix.size() + password.Text().size());
    text.Text().append(kPasswordPrefix).append(password.Text());
    SecretString message;
    KRVN::WideToCodePage(CP_THREAD_ACP, text.Text(), message.Text());
    const auto size = static_cast<int>(message.Text().size());
    if (::send(socket, message.Text().data(), size, 0) != size) {
        return false;
    }
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(socket, &readable);
    timeval limit = Timeval(MsLeft(deadline, kReplyWaitMs));
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
    if (m_open && m_socket && DrainEnded(m_socket.get())) {
        OnConnectionEnded();
    }
}

bool SocketConnector::DrainForWatcher() {
    NoticeEnd();
    return !m_open;
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
        if (looked.empty()) {
            continue;
        }
        timeval now{0, 0};
        const int ready = ::select(0, &readable, nullptr, nullptr, &now);
        // Readable is rare on an alarm connection: a FIN, a reset or stray
        // bytes. Each is looked at again under its own lock; when the one
        // look failed (a socket closed meanwhile), each is looked at alone.
        for (const auto& [socket, connector] : looked) {
            if (ready == SOCKET_ERROR || FD_ISSET(socket, &readable)) {
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
}
