#include "substitute_server/alarm_listener.h"

#include <ws2tcpip.h>

#include <algorithm>

#include "common/code_page.h"

namespace {

constexpr int kPollMs = 50;
// How long the second half of a split reply waits behind the first.
constexpr auto kSplitDelay = std::chrono::milliseconds(300);

std::string AddressText(const sockaddr_in& address) {
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    return std::string(text) + ':' + std::to_string(ntohs(address.sin_port));
}

// How many times unit makes up the whole of bytes; 0 when it does not.
size_t Repeats(const std::string& bytes, const std::string& unit) {
    if (bytes.empty() || bytes.size() % unit.size() != 0) {
        return 0;
    }
    for (size_t at = 0; at < bytes.size(); at += unit.size()) {
        if (bytes.compare(at, unit.size(), unit) != 0) {
            return 0;
        }
    }
    return bytes.size() / unit.size();
}

} // namespace

AlarmListener::AlarmListener(const Options& options, EventLog& log)
    : m_options(options), m_log(log) {
    m_passwords.push_back(KRVN::WideToCodePage(CP_ACP, options.password));
    for (const std::wstring& password : options.alsoAccepted) {
        m_passwords.push_back(KRVN::WideToCodePage(CP_ACP, password));
    }
}

bool AlarmListener::Open() {
    for (const ListenRange& range : m_options.listen) {
        std::uint16_t port = range.port;
        for (std::uint64_t host = range.first; host <= range.last; ++host) {
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_addr.s_addr = htonl(static_cast<std::uint32_t>(host));
            address.sin_port = htons(port);
            Listener listener{unique_socket(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)),
                              AddressText(address)};
            if (!listener.socket ||
                ::bind(listener.socket.get(), reinterpret_cast<sockaddr*>(&address),
                       sizeof address) != 0 ||
                ::listen(listener.socket.get(), SOMAXCONN) != 0) {
                m_log.Write(listener.where, "listen-failed",
                            "error=" + std::to_string(::WSAGetLastError()));
                return false;
            }
            // Port 0: the first address gets a port from the system and the
            // rest of the range shares it.
            int length = sizeof address;
            ::getsockname(listener.socket.get(), reinterpret_cast<sockaddr*>(&address), &length);
            port = ntohs(address.sin_port);
            listener.where = AddressText(address);
            m_log.Write(listener.where, "listening");
            m_listeners.push_back(std::move(listener));
        }
    }
    return true;
}

void AlarmListener::Serve(const std::function<bool()>& stopRequested) {
    std::vector<WSAPOLLFD> polled;
    while (!stopRequested()) {
        polled.clear();
        for (const Connection& connection : m_connections) {
            polled.push_back({connection.socket.get(), POLLRDNORM, 0});
        }
        for (const Listener& listener : m_listeners) {
            polled.push_back({listener.socket.get(), POLLRDNORM, 0});
        }

        int timeoutMs = kPollMs;
        const Clock::time_point now = Clock::now();
        for (const Connection& connection : m_connections) {
            for (const Pending& action : connection.pending) {
                const auto wait =
                    std::chrono::duration_cast<std::chrono::milliseconds>(action.at - now);
                timeoutMs = std::max(0, std::min(timeoutMs, static_cast<int>(wait.count()) + 1));
            }
        }
        if (polled.empty()) {
            ::Sleep(static_cast<DWORD>(timeoutMs));
            continue;
        }
        if (::WSAPoll(polled.data(), static_cast<ULONG>(polled.size()), timeoutMs) < 0) {
            ::Sleep(static_cast<DWORD>(timeoutMs));
            continue;
        }

        // Connections first: the ones accepted below are not in this poll.
        const size_t firstListener = polled.size() - m_listeners.size();
        auto it = m_connections.begin();
        for (size_t index = 0; index < firstListener; ++index) {
            if (polled[index].revents != 0 && !Receive(*it)) {
                it = m_connections.erase(it);
            } else {
                ++it;
            }
        }
        for (size_t i = 0; i < m_listeners.size(); ++i) {
            if (polled[firstListener + i].revents != 0) {
                Accept(m_listeners[i]);
            }
        }

        const Clock::time_point later = Clock::now();
        for (auto it = m_connections.begin(); it != m_connections.end();) {
            it = RunDueActions(*it, later) ? std::next(it) : m_connections.erase(it);
        }
    }
    for (const Connection& connection : m_connections) {
        Log(connection, "closed", "by=server");
    }
    m_connections.clear();
}

void AlarmListener::Accept(Listener& listener) {
    sockaddr_in peer{};
    int length = sizeof peer;
    unique_socket socket(
        ::accept(listener.socket.get(), reinterpret_cast<sockaddr*>(&peer), &length));
    if (!socket) {
        m_log.Write(listener.where, "accept-failed",
                    "error=" + std::to_string(::WSAGetLastError()));
        return;
    }
    Connection connection;
    connection.socket = std::move(socket);
    connection.where = listener.where;
    connection.id = m_nextId++;
    Log(connection, "connected", "peer=" + AddressText(peer));
    m_connections.push_back(std::move(connection));
}

bool AlarmListener::Receive(Connection& connection) {
    char buffer[512];
    const int received = ::recv(connection.socket.get(), buffer, sizeof buffer, 0);
    if (received == 0) {
        Log(connection, "closed", "by=client");
        return false;
    }
    if (received < 0) {
        Log(connection, "closed", "by=client error=" + std::to_string(::WSAGetLastError()));
        return false;
    }
    const std::string bytes(buffer, static_cast<size_t>(received));
    if (connection.handshakeDone) {
        // Orders sent back to back on one connection may arrive in one read.
        if (const size_t orders = Repeats(bytes, "unmount")) {
            for (size_t i = 0; i < orders; ++i) {
                Log(connection, "unmount");
            }
        } else {
            Log(connection, "data", "bytes=" + EventLog::Hex(bytes.data(), bytes.size()));
        }
        return true;
    }

    connection.handshakeDone = true;
    static const std::string kPrefix = "psw=";
    const bool wellFormed = bytes.compare(0, kPrefix.size(), kPrefix) == 0;
    const std::string password = wellFormed ? bytes.substr(kPrefix.size()) : std::string();
    const bool accepted =
        wellFormed && !m_options.refuse &&
        std::find(m_passwords.begin(), m_passwords.end(), password) != m_passwords.end();
    std::string details = "bytes=" + EventLog::Hex(bytes.data(), bytes.size()) +
                          " password=" + EventLog::Escape(password) +
                          " result=" + (accepted ? "accepted" : "refused") +
                          " reply=" + (accepted ? ReplyName(m_options.reply) : "no");
    if (accepted && m_options.replyDelayMs > 0) {
        details += " delay=" + std::to_string(m_options.replyDelayMs);
    }
    Log(connection, "password", details);

    const Clock::time_point now = Clock::now();
    const Clock::time_point replyAt = now + std::chrono::milliseconds(m_options.replyDelayMs);
    bool answered = true;
    if (!accepted) {
        Answer(connection, "no");
        answered = false;
    } else {
        switch (m_options.reply) {
        case ReplyMode::Yes:
            AnswerAt(connection, replyAt, now, "yes");
            break;
        case ReplyMode::YesCrlf:
            AnswerAt(connection, replyAt, now, "yes\r\n");
            break;
        case ReplyMode::Upper:
            AnswerAt(connection, replyAt, now, "YES");
            break;
        case ReplyMode::Short:
            AnswerAt(connection, replyAt, now, "ye");
            break;
        case ReplyMode::None:
            Log(connection, "closed", "by=server");
            return false;
        case ReplyMode::Split:
            AnswerAt(connection, replyAt, now, "y");
            AnswerAt(connection, replyAt + kSplitDelay, now, "es");
            break;
        case ReplyMode::Silent:
            answered = false;
            break;
        }
    }
    if (answered && !m_options.extra.empty()) {
        connection.pending.push_back({replyAt + std::chrono::milliseconds(m_options.extraAfterMs),
                                      Action::SendExtra, m_options.extra});
    }
    if (m_options.closeAfterMs >= 0) {
        connection.pending.push_back(
            {now + std::chrono::milliseconds(m_options.closeAfterMs), Action::Close, {}});
    }
    if (m_options.resetAfterMs >= 0) {
        connection.pending.push_back(
            {now + std::chrono::milliseconds(m_options.resetAfterMs), Action::Reset, {}});
    }
    return true;
}

void AlarmListener::Answer(Connection& connection, const std::string& message) {
    ::send(connection.socket.get(), message.data(), static_cast<int>(message.size()), 0);
}

void AlarmListener::AnswerAt(Connection& connection, Clock::time_point at, Clock::time_point now,
                             const std::string& message) {
    if (at <= now) {
        Answer(connection, message);
    } else {
        connection.pending.push_back({at, Action::Send, message});
    }
}

bool AlarmListener::RunDueActions(Connection& connection, Clock::time_point now) {
    auto& pending = connection.pending;
    // Stable: parts of one answer due at the same time keep their order.
    std::stable_sort(pending.begin(), pending.end(),
                     [](const Pending& a, const Pending& b) { return a.at < b.at; });
    while (!pending.empty() && pending.front().at <= now) {
        const Pending action = pending.front();
        pending.erase(pending.begin());
        switch (action.action) {
        case Action::Send:
            Answer(connection, action.bytes);
            break;
        case Action::SendExtra:
            Answer(connection, action.bytes);
            Log(connection, "extra",
                "bytes=" + EventLog::Hex(action.bytes.data(), action.bytes.size()));
            break;
        case Action::Close:
            Log(connection, "closed", "by=server");
            return false;
        case Action::Reset: {
            // Linger with a zero timeout: closing sends a reset, not a FIN.
            const linger abort{1, 0};
            ::setsockopt(connection.socket.get(), SOL_SOCKET, SO_LINGER,
                         reinterpret_cast<const char*>(&abort), sizeof abort);
            Log(connection, "reset");
            return false;
        }
        }
    }
    return true;
}

void AlarmListener::Log(const Connection& connection, const char* event,
                        const std::string& details) {
    const std::string id = "conn=" + std::to_string(connection.id);
    m_log.Write(connection.where, event, details.empty() ? id : id + ' ' + details);
}
