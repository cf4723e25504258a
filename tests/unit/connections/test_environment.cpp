#include "tests/unit/connections/test_environment.h"

#include <gtest/gtest.h>

#include "com/bstr.h"
#include "com/com_object.h"
#include "connections/qn_server.h"
#include "connections/winsock_session.h"

namespace krvn_test {

namespace {

class ConnectionsEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        ASSERT_EQ(0, m_winsock.Status());
        ASSERT_HRESULT_SUCCEEDED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    }
    void TearDown() override { ::CoUninitialize(); }

private:
    WinsockSession m_winsock;
};

[[maybe_unused]] ::testing::Environment* const g_environment =
    ::testing::AddGlobalTestEnvironment(new ConnectionsEnvironment);

} // namespace

KRVN::com_ptr<IQNServer> MakeServerObject(const wchar_t* address, const wchar_t* password,
                                          ULONG port) {
    const KRVN::com_ptr<IQNServer> server(KRVN::com::ComObject<QNServer>::Make());
    const KRVN::unique_bstr addressText(address);
    const KRVN::unique_bstr passwordText(password);
    server->put_Address(addressText.get());
    server->put_Password(passwordText.get());
    server->put_Port(port);
    return server;
}

} // namespace krvn_test
