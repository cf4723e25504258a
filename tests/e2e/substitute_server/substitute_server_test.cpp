// The substitute disk server over TCP, driven by a plain socket client: its
// answers, their timing and what follows them, the passwords it accepts,
// and a server started again on the port of one that was killed.

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "common/unique_handle.h"
#include "connections/unique_socket.h"
#include "connections/winsock_session.h"
#include "tests/support/substitute_server_process.h"
#include "tests/support/wait.h"

namespace {

using krvn_test::SubstituteServerProcess;

constexpr DWORD kWaitMs = 5000;
// Room for Wine's scheduling around a delay the server keeps.
constexpr ULONGLONG kEarlyMs = 50;

class SubstituteServerTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(0, m_winsock.Status()); }

    // A connection to the server at 127.0.0.2 that sent "psw=" + password.
    static unique_socket Handshake(const SubstituteServerProcess& server,
                                   const std::string& password) {
        unique_socket socket(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
        sockaddr_in target{};
        target.sin_family = AF_INET;
        target.sin_port = htons(server.Port());
        ::inet_pton(AF_INET, "127.0.0.2", &target.sin_addr);
        const DWORD limit = kWaitMs;
        ::setsockopt(socket.get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limit),
                     sizeof limit);
        const std::string hello = "psw=" + password;
        if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&target), sizeof target) !=
                0 ||
            ::send(socket.get(), hello.data(), static_cast<int>(hello.size()), 0) !=
                static_cast<int>(hello.size())) {
            return unique_socket();
        }
        return socket;
    }

    // One receive: what arrived, empty at the end of the connection or a
    // failure.
    static std::string ReceiveOnce(const unique_socket& socket) {
        char buffer[64];
        const int received = ::recv(socket.get(), buffer, sizeof buffer, 0);
        return received > 0 ? std::string(buffer, static_cast<size_t>(received)) : std::string();
    }

    WinsockSession m_winsock;
};

TEST_F(SubstituteServerTest, AnswersAfterTheReplyDelay) {
    SubstituteServerProcess server;
    ASSERT_TRUE(server.Start(L"--listen 127.0.0.2:0 --password pw --reply-delay 700"));
    const ULONGLONG asked = ::GetTickCount64();
    const unique_socket socket = Handshake(server, "pw");
    ASSERT_TRUE(socket);
    EXPECT_EQ("yes", ReceiveOnce(socket));
    EXPECT_GE(::GetTickCount64() - asked, 700 - kEarlyMs);
    ASSERT_TRUE(server.WaitForEvents("password", 1, kWaitMs));
    EXPECT_EQ("700", server.Events("password")[0].Field("delay"));
}

TEST_F(SubstituteServerTest, SendsTheExtraBytesInAWriteOfTheirOwnLater) {
    SubstituteServerProcess server;
    ASSERT_TRUE(
        server.Start(L"--listen 127.0.0.2:0 --password pw --extra %0d%0a --extra-after 400"));
    const unique_socket socket = Handshake(server, "pw");
    ASSERT_TRUE(socket);
    EXPECT_EQ("yes", ReceiveOnce(socket)) << "the answer comes alone";
    const ULONGLONG answered = ::GetTickCount64();
    EXPECT_EQ("\r\n", ReceiveOnce(socket));
    EXPECT_GE(::GetTickCount64() - answered, 400 - kEarlyMs - 100);
    ASSERT_TRUE(server.WaitForEvents("extra", 1, kWaitMs));
    EXPECT_EQ("0d0a", server.Events("extra")[0].Field("bytes"));

    // The connection goes on as before: an order after the extra bytes.
    ASSERT_EQ(7, ::send(socket.get(), "unmount", 7, 0));
    EXPECT_TRUE(server.WaitForEvents("unmount", 1, kWaitMs)) << server.LogText();
}

TEST_F(SubstituteServerTest, ARefusedPasswordGetsNoExtraBytes) {
    SubstituteServerProcess server;
    ASSERT_TRUE(server.Start(L"--listen 127.0.0.2:0 --password pw --extra late --extra-after 0"));
    const unique_socket socket = Handshake(server, "wrong");
    ASSERT_TRUE(socket);
    EXPECT_EQ("no", ReceiveOnce(socket));
    krvn_test::QuietFor(300);
    EXPECT_TRUE(server.Events("extra").empty()) << server.LogText();
}

TEST_F(SubstituteServerTest, AcceptsEachPasswordItWasGiven) {
    SubstituteServerProcess server;
    ASSERT_TRUE(server.Start(
        L"--listen 127.0.0.2:0 --password first --also-accept second --also-accept third"));
    for (const char* password : {"first", "second", "third"}) {
        const unique_socket socket = Handshake(server, password);
        ASSERT_TRUE(socket);
        EXPECT_EQ("yes", ReceiveOnce(socket)) << password;
    }
    const unique_socket stranger = Handshake(server, "fourth");
    ASSERT_TRUE(stranger);
    EXPECT_EQ("no", ReceiveOnce(stranger));
}

TEST_F(SubstituteServerTest, ComesBackOnThePortOfAKilledServer) {
    SubstituteServerProcess first;
    ASSERT_TRUE(first.Start(L"--listen 127.0.0.2:0 --password pw"));
    const std::uint16_t port = first.Port();
    // A connection the killed server leaves behind on its port.
    const unique_socket socket = Handshake(first, "pw");
    ASSERT_TRUE(socket);
    ASSERT_EQ("yes", ReceiveOnce(socket));
    const KRVN::unique_handle process(
        ::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, first.ProcessId()));
    ASSERT_TRUE(process && ::TerminateProcess(process.get(), 9));
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(process.get(), kWaitMs));

    SubstituteServerProcess second;
    ASSERT_TRUE(second.Start(L"--listen 127.0.0.2:" + std::to_wstring(port) + L" --password pw"));
    EXPECT_EQ(port, second.Port());
    const unique_socket again = Handshake(second, "pw");
    ASSERT_TRUE(again);
    EXPECT_EQ("yes", ReceiveOnce(again));
}

TEST_F(SubstituteServerTest, RefusesAnEscapeCutShort) {
    SubstituteServerProcess server;
    EXPECT_FALSE(server.Start(L"--listen 127.0.0.2:0 --extra ab%0"));
}

} // namespace
