#pragma once
// The TCP alarm listener of the substitute server: one listening socket per
// address, the password handshake with the behaviour chosen on the command
// line, and a log line for everything that arrives afterwards. All sockets
// are served by one thread.

#include <chrono>
#include <functional>
#include <list>
#include <string>
#include <vector>

#include "connections/unique_socket.h"
#include "substitute_server/event_log.h"
#include "substitute_server/options.h"

class AlarmListener {
public:
    AlarmListener(const Options& options, EventLog& log);

    // Binds and listens on every address; logs "listening" for each. Returns
    // false (after logging why) when any address cannot be served.
    bool Open();

    // Serves connections until stopRequested() returns true; it is asked at
    // least every 50 ms.
    void Serve(const std::function<bool()>& stopRequested);

private:
    using Clock = std::chrono::steady_clock;

    struct Listener {
        unique_socket socket;
        std::string where;
    };

    enum class Action { Send, SendExtra, Close, Reset };

    struct Pending {
        Clock::time_point at;
        Action action;
        std::string bytes; // what Send and SendExtra send
    };

    struct Connection {
        unique_socket socket;
        std::string where;
        int id = 0;
        bool handshakeDone = false;
        std::vector<Pending> pending;
    };

    void Accept(Listener& listener);
    // Returns false when the connection is finished.
    bool Receive(Connection& connection);
    void Answer(Connection& connection, const std::string& message);
    // Answers at the given time: at once when it has come, else later.
    void AnswerAt(Connection& connection, Clock::time_point at, Clock::time_point now,
                  const std::string& message);
    bool RunDueActions(Connection& connection, Clock::time_point now);
    void Log(const Connection& connection, const char* event, const std::string& details = {});

    const Options& m_options;
    EventLog& m_log;
    std::vector<std::string> m_passwords; // every password accepted, as the wire carries it
    std::vector<Listener> m_listeners;
    std::list<Connection> m_connections;
    int m_nextId = 1;
};
