// The layer as a local server: this program, registered as the server of the
// QNServer class, is started by COM with -Embedding (see main.cpp), serves
// TestServer through the type-library marshaller and ends when its last
// object is released.

#include "com/class_objects.h"
#include "com/registrar.h"
#include "com/variant.h"
#include "common/unique_handle.h"
#include "local_server.h"
#include "test_classes.h"

#include <gtest/gtest.h>

#include <psapi.h>

#include <set>

namespace {

using KRVN::com_ptr;
using KRVN::unique_bstr;
using KRVN::unique_handle;
using krvn_test::TestServer;
using namespace KRVN::com;

// {5B0D3C55-53A8-4F4B-9D8E-0C6A9A4E7B21}: known to no registry.
const CLSID kUnregisteredClsid = {
    0x5B0D3C55, 0x53A8, 0x4F4B, {0x9D, 0x8E, 0x0C, 0x6A, 0x9A, 0x4E, 0x7B, 0x21}};

std::set<DWORD> ProcessesLikeThisOne() {
    std::set<DWORD> found;
    wchar_t self[MAX_PATH] = {};
    ::GetModuleBaseNameW(::GetCurrentProcess(), nullptr, self, MAX_PATH);
    DWORD ids[1024];
    DWORD bytes = 0;
    if (!::EnumProcesses(ids, sizeof(ids), &bytes)) {
        return found;
    }
    for (DWORD i = 0; i < bytes / sizeof(DWORD); ++i) {
        unique_handle process(
            ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, ids[i]));
        wchar_t name[MAX_PATH] = {};
        if (process && ids[i] != ::GetCurrentProcessId() &&
            ::GetModuleBaseNameW(process.get(), nullptr, name, MAX_PATH) &&
            ::lstrcmpiW(name, self) == 0) {
            found.insert(ids[i]);
        }
    }
    return found;
}

// Suspension is not observable in-process under Wine (it hands out a
// suspended class object and its CoResumeClassObjects does nothing), so the
// local-server test below covers the resume; this one covers revocation.
TEST(ClassObjects, ActivationReachesAClassObjectOnlyWhileRegistered) {
    ClassObjects table;
    ASSERT_EQ(S_OK, table.Register<TestServer>(kUnregisteredClsid));
    ASSERT_EQ(S_OK, ClassObjects::Resume());
    com_ptr<IClassFactory> factory;
    ASSERT_EQ(S_OK, ::CoGetClassObject(kUnregisteredClsid, CLSCTX_LOCAL_SERVER, nullptr,
                                       IID_IClassFactory, factory.put_void()));
    com_ptr<IQNServer> server;
    EXPECT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IQNServer, server.put_void()));

    table.RevokeAll();
    EXPECT_EQ(REGDB_E_CLASSNOTREG,
              ::CoGetClassObject(kUnregisteredClsid, CLSCTX_LOCAL_SERVER, nullptr,
                                 IID_IClassFactory, factory.put_void()));
}

class LocalServer : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, registrar.RegisterAppId());
        ASSERT_EQ(S_OK, registrar.RegisterServer(Registrar::ModulePath()));
    }
    void TearDown() override {
        EXPECT_EQ(S_OK, registrar.UnregisterServer());
        EXPECT_EQ(S_OK, registrar.UnregisterAppId());
    }

    Registrar registrar;
};

TEST_F(LocalServer, ServesCallsAcrossProcessesAndEndsWithItsLastObject) {
    const std::set<DWORD> before = ProcessesLikeThisOne();
    com_ptr<IQNServer> server;
    ASSERT_EQ(S_OK, ::CoCreateInstance(CLSID_QNServer, nullptr, CLSCTX_LOCAL_SERVER, IID_IQNServer,
                                       server.put_void()));
    unique_handle process;
    for (DWORD id : ProcessesLikeThisOne()) {
        if (!before.count(id)) {
            process.reset(::OpenProcess(
                SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
        }
    }
    ASSERT_TRUE(process) << "no server process found";
    const auto endServer = KRVN::scope_exit([&] {
        if (::WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT) {
            ::TerminateProcess(process.get(), 1);
        }
    });

    const unique_bstr address(L"10.1.2.3");
    ASSERT_EQ(S_OK, server->put_Address(address.get()));
    unique_bstr back;
    ASSERT_EQ(S_OK, server->get_Address(back.put()));
    EXPECT_STREQ(L"10.1.2.3", back.get());
    ASSERT_EQ(S_OK, server->put_Port(7001));

    com_ptr<IDispatch> dispatch = server.query<IDispatch>();
    std::wstring name = L"Port";
    LPOLESTR names[] = {name.data()};
    DISPID id = DISPID_UNKNOWN;
    ASSERT_EQ(S_OK, dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id));
    EXPECT_EQ(3, id);
    KRVN::unique_variant port;
    DISPPARAMS none = {};
    ASSERT_EQ(S_OK, dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none,
                                     port.put(), nullptr, nullptr));
    ASSERT_EQ(VT_UI4, port.type());
    EXPECT_EQ(7001u, V_UI4(&port.get()));

    dispatch.reset();
    server.reset();
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(process.get(), krvn_test::kServerIdleLimitMs))
        << "the server did not end after its last object";
    DWORD exitCode = STILL_ACTIVE;
    EXPECT_TRUE(::GetExitCodeProcess(process.get(), &exitCode));
    EXPECT_EQ(0u, exitCode);
}

} // namespace
