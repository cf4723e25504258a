#include "tests/support/scripted_alarm_server.h"

#include <ws2tcpip.h>

namespace krvn_test {

namespace {

constexpr char kOrder[] = "unmount";
constexpr size_t kOrderSize = sizeof kOrder - 1;

bool SendAll(SOCKET socket, const std::string& bytes) {
    return bytes.empty() || ::send(socket, bytes.data(), static_cast<int>(bytes.size()), 0) ==
                                static_cast<int>(bytes.size());
}

} // namespace

ScriptedAlarmServer::~ScriptedAlarmServer() {
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_stopping = true;
    }
    m_changed.notify_all();
    CloseConnections();
    // A listener that is closed ends its accept.
    m_listener.reset();
    if (m_acceptor.joinable()) {
        m_acceptor.join();
    }
    std::vector<std::thread> servers;
    {
        std::lock_guard<std::mutex> hold(m_lock);
        servers.swap(m_servers);
    }
    for (std::thread& server : servers) {
        server.join();
    }
}

bool ScriptedAlarmServer::Start(const char* address, std::uint16_t port) {
    m_listener.reset(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    if (!m_listener || ::inet_pton(AF_INET, address, &local.sin_addr) != 1 ||
        ::bind(m_listener.get(), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        ::listen(m_listener.get(), SOMAXCONN) != 0) {
        return false;
    }
    int length = sizeof local;
    ::getsockname(m_listener.get(), reinterpret_cast<sockaddr*>(&local), &length);
    m_port = ntohs(local.sin_port);
    m_acceptor = std::thread([this] { Accept(); });
    return true;
}

void ScriptedAlarmServer::SetScript(const Script& script) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_script = script;
}

void ScriptedAlarmServer::CloseConnections() {
    std::vector<std::shared_ptr<unique_socket>> open;
    {
        std::lock_guard<std::mutex> hold(m_lock);
        open.swap(m_open);
    }
    for (const auto& connection : open) {
        // A FIN now; the serving thread closes the socket once its receive ends.
        ::shutdown(connection->get(), SD_BOTH);
    }
}

size_t ScriptedAlarmServer::Connections() const {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_connections;
}

size_t ScriptedAlarmServer::Orders() const {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_orders.size();
}

bool ScriptedAlarmServer::WaitForOrders(size_t count, DWORD timeoutMs) const {
    std::unique_lock<std::mutex> hold(m_lock);
    return m_changed.wait_for(hold, std::chrono::milliseconds(timeoutMs),
                              [&] { return m_orders.size() >= count; });
}

std::vector<std::chrono::steady_clock::time_point> ScriptedAlarmServer::OrderTimes() const {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_orders;
}

void ScriptedAlarmServer::Accept() {
    for (;;) {
        const SOCKET accepted = ::accept(m_listener.get(), nullptr, nullptr);
        if (accepted == INVALID_SOCKET) {
            return;
        }
        auto connection = std::make_shared<unique_socket>(accepted);
        std::lock_guard<std::mutex> hold(m_lock);
        if (m_stopping) {
            return;
        }
        ++m_connections;
        m_open.push_back(connection);
        m_servers.emplace_back([this, connection] { Serve(connection); });
    }
}

void ScriptedAlarmServer::Serve(std::shared_ptr<unique_socket> connection) {
    const SOCKET socket = connection->get();
    char buffer[256];
    // The handshake: one receive of "psw=...", then the script's answer.
    if (::recv(socket, buffer, sizeof buffer, 0) <= 0) {
        return;
    }
    Script script;
    {
        std::lock_guard<std::mutex> hold(m_lock);
        script = m_script;
    }
    ::Sleep(script.replyDelayMs);
    if (!SendAll(socket, script.reply)) {
        return;
    }
    if (!script.later.empty()) {
        ::Sleep(script.laterMs);
        if (!SendAll(socket, script.later)) {
            return;
        }
    }
    std::string received;
    for (;;) {
        const int got = ::recv(socket, buffer, sizeof buffer, 0);
        if (got <= 0) {
            return;
        }
        received.append(buffer, static_cast<size_t>(got));
        for (size_t at = received.find(kOrder); at != std::string::npos;
             at = received.find(kOrder)) {
            received.erase(0, at + kOrderSize);
            {
                std::lock_guard<std::mutex> hold(m_lock);
                m_orders.push_back(std::chrono::steady_clock::now());
            }
            m_changed.notify_all();
        }
    }
}

} // namespace krvn_test
