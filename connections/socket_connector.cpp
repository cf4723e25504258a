#include "connections/socket_connector.h"

#include <ws2tcpip.h>

#include <cstring>
#include <memory>

namespace {

constexpr int kReplySize = 10;
const char kAlarm[] = "unmount";

// The ANSI code page of the calling thread's locale.
std::string ToThreadAnsi(const std::wstring& text) {
    if (text.empty()) {
        return std::string();
    }
    const int length = static_cast<int>(text.size());
    const int size =
        ::WideCharToMultiByte(CP_THREAD_ACP, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    std::string converted(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_THREAD_ACP, 0, text.data(), length, &converted[0], size, nullptr,
                          nullptr);
    return converted;
}

struct AddrInfoDeleter {
    void operator()(addrinfo* info) const noexcept { ::freeaddrinfo(info); }
};

} // namespace

SocketConnector::SocketConnector(IQNServer* server) : Connector(server) {}

SocketConnector::~SocketConnector() {
    // The watcher reads this object's socket: it must have ended before
    // either goes away.
    m_waitor.Stop(true);
}

std::int32_t SocketConnector::Connect() {
    const std::string address = ToThreadAnsi(GetAddress());
    {
        // The previous connection, if any, was closed by the server.
        std::lock_guard<std::mutex> hold(m_socketLock);
        m_socket.reset();
    }
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
    try {
        m_waitor.SetConnector(this);
        m_waitor.Start(nullptr, 0, false);
    } catch (const CAException& e) {
        std::lock_guard<std::mutex> hold(m_socketLock);
        m_socket.reset();
        return e.Code();
    }
    return 0;
}

std::int32_t SocketConnector::SendAlarm() {
    std::lock_guard<std::mutex> hold(m_socketLock);
    if (!m_socket) {
        return WSAENOTSOCK;
    }
    if (::send(m_socket.get(), kAlarm, static_cast<int>(sizeof kAlarm - 1), 0) == SOCKET_ERROR) {
        return ::WSAGetLastError();
    }
    return 0;
}

bool SocketConnector::IsConnected() {
    return m_waitor.IsRunning();
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
        addrinfo* found = nullptr;
        if (const int error = ::getaddrinfo(address.c_str(), nullptr, &hints, &found)) {
            return error;
        }
        const std::unique_ptr<addrinfo, AddrInfoDeleter> owner(found);
        target.sin_addr = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
    }
    if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&target), sizeof target) ==
        SOCKET_ERROR) {
        return ::WSAGetLastError();
    }
    return 0;
}

bool SocketConnector::SendPassword(SOCKET socket) {
    const std::string message = ToThreadAnsi(L"psw=" + GetPassword());
    if (::send(socket, message.data(), static_cast<int>(message.size()), 0) == SOCKET_ERROR) {
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

SOCKET SocketConnector::WatchedSocket() {
    std::lock_guard<std::mutex> hold(m_socketLock);
    return m_socket.get();
}
