#pragma once
// The close watcher of a socket transport: a thread that runs for as long as
// the server keeps the connection open. Its running state is what the
// transport reports as connected.

#include "common/smart_thread.h"

class SocketConnector;

class SocketCloseWaitor : public CEventThread<CRuntimeThreadCreator> {
public:
    // The connector whose socket the next run watches.
    void SetConnector(SocketConnector* connector) noexcept { m_connector = connector; }

protected:
    // Waits until the server closes the connection or the thread is stopped.
    // Whatever the server says meanwhile is read and dropped as it comes: the
    // close is reported only once all data is read. Selecting the
    // notifications also makes the socket non-blocking for the rest of its
    // life, so an alarm's send never blocks.
    void Run() override;

private:
    SocketConnector* m_connector = nullptr;
};
