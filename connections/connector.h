#pragma once
// Common base of the two transports that reach one disk server. It holds the
// server object and reads its settings afresh at every use, so a change made
// through the object takes effect at the next probe or alarm.

#include <cstdint>
#include <string>

#include "com/com_ptr.h"
#include "connections/secret_text.h"
#include "contract/TolvaneLib.h"

class Connector {
public:
    explicit Connector(IQNServer* server);
    virtual ~Connector() = default;
    Connector(const Connector&) = delete;
    Connector& operator=(const Connector&) = delete;

    // 0 when the server was reached and accepted the password, else a
    // Win32-style error number (never an HRESULT).
    virtual std::int32_t Connect() = 0;
    // 0 when the unmount order was delivered, else a Win32-style error number.
    virtual std::int32_t SendAlarm() = 0;

    // A null or unreadable string reads as empty, an unreadable port as 0.
    std::wstring GetAddress() const;
    // Wiped when it goes, like the server object's copy it was read from.
    SecretWString GetPassword() const;
    std::uint32_t GetPort() const;

private:
    KRVN::com_ptr<IQNServer> m_server;
};
