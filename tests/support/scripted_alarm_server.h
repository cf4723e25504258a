#pragma once
// A disk server's alarm listener inside the test program, for what the
// substitute server cannot be told to do in the middle of a test: answer
// each handshake as the current script says (after a pause, with more bytes
// in a later write), end every open connection at once, and count the
// orders that arrived, with the moment each came.

#include <winsock2.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "connections/unique_socket.h"
#include "connections/winsock_session.h"

namespace krvn_test {

class ScriptedAlarmServer {
public:
    // How the next handshakes are answered.
    struct Script {
        // Before the reply.
        DWORD replyDelayMs = 0;
        std::string reply = "yes";
        // Written after the reply, in a write of its own, laterMs after it.
        std::string later;
        DWORD laterMs = 0;
    };

    ScriptedAlarmServer() = default;
    ~ScriptedAlarmServer();
    ScriptedAlarmServer(const ScriptedAlarmServer&) = delete;
    ScriptedAlarmServer& operator=(const ScriptedAlarmServer&) = delete;

    // Listens on the IPv4 address (port 0: the system picks one).
    bool Start(const char* address, std::uint16_t port = 0);
    std::uint16_t Port() const noexcept { return m_port; }

    void SetScript(const Script& script);
    // Ends every open connection with a FIN, as a server that restarts does;
    // new ones are still taken.
    void CloseConnections();

    size_t Connections() const;
    size_t Orders() const;
    // Waits (at most timeoutMs) until count orders have arrived.
    bool WaitForOrders(size_t count, DWORD timeoutMs) const;
    // When each order arrived.
    std::vector<std::chrono::steady_clock::time_point> OrderTimes() const;

private:
    void Accept();
    void Serve(std::shared_ptr<unique_socket> connection);

    // Started before the first socket and ended after the last.
    WinsockSession m_winsock;
    unique_socket m_listener;
    std::uint16_t m_port = 0;
    std::thread m_acceptor;
    mutable std::mutex m_lock;
    mutable std::condition_variable m_changed;
    bool m_stopping = false;
    Script m_script;
    std::vector<std::shared_ptr<unique_socket>> m_open;
    std::vector<std::thread> m_servers;
    size_t m_connections = 0;
    std::vector<std::chrono::steady_clock::time_point> m_orders;
};

} // namespace krvn_test
