#pragma once
// Windows Sockets 2.2 started for the lifetime of the object. Whoever uses the
// socket transport (the alarm manager, tests, tools) holds one.

#include <winsock2.h>

class WinsockSession {
public:
    WinsockSession() noexcept : m_status(::WSAStartup(MAKEWORD(2, 2), &m_data)) {}
    ~WinsockSession() {
        if (m_status == 0) {
            ::WSACleanup();
        }
    }
    WinsockSession(const WinsockSession&) = delete;
    WinsockSession& operator=(const WinsockSession&) = delete;

    // 0 when started, else the WSAStartup error.
    int Status() const noexcept { return m_status; }

private:
    WSADATA m_data{};
    int m_status;
};
