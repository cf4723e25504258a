// IDispatch of dual interfaces served from the registered type library: names
// resolve to the contract's dispatch identifiers and calls by identifier
// land in the right vtable slot, with argument conversion.

#include "com/class_factory.h"
#include "com/registrar.h"
#include "com/variant.h"
#include "test_classes.h"

#include <gtest/gtest.h>

namespace {

using KRVN::com_ptr;
using KRVN::unique_bstr;
using KRVN::unique_variant;
using krvn_test::TestAlarm;
using krvn_test::TestServer;
using namespace KRVN::com;

DISPID IdOf(IDispatch* dispatch, const wchar_t* name, HRESULT expected = S_OK) {
    std::wstring text = name;
    LPOLESTR names[] = {text.data()};
    DISPID id = DISPID_UNKNOWN;
    EXPECT_EQ(expected, dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id))
        << name;
    return id;
}

HRESULT Put(IDispatch* dispatch, DISPID id, VARIANT value, REFIID iid = IID_NULL) {
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params = {&value, &named, 1, 1};
    return dispatch->Invoke(id, iid, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params, nullptr,
                            nullptr, nullptr);
}

HRESULT Get(IDispatch* dispatch, DISPID id, unique_variant& result) {
    DISPPARAMS none = {};
    return dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none,
                            result.put(), nullptr, nullptr);
}

VARIANT Text(const unique_bstr& text) {
    VARIANT value;
    V_VT(&value) = VT_BSTR;
    V_BSTR(&value) = text.get();
    return value;
}

class Dispatch : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_EQ(S_OK, Registrar().RegisterTypeLib(Registrar::ModulePath()));
    }
    static void TearDownTestSuite() { EXPECT_EQ(S_OK, Registrar().UnregisterTypeLib()); }

    void SetUp() override {
        ASSERT_EQ(S_OK, ClassFactory<TestServer>::Make()->CreateInstance(nullptr, IID_IQNServer,
                                                                         server.put_void()));
        dispatch = server.query<IDispatch>();
    }

    com_ptr<IQNServer> server;
    com_ptr<IDispatch> dispatch;
};

TEST_F(Dispatch, ServesOneTypeInfoThatDescribesTheInterface) {
    UINT count = 0;
    EXPECT_EQ(S_OK, dispatch->GetTypeInfoCount(&count));
    EXPECT_EQ(1u, count);

    com_ptr<ITypeInfo> info;
    ASSERT_EQ(S_OK, dispatch->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.put()));
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(S_OK, info->GetTypeAttr(&attributes));
    EXPECT_TRUE(::IsEqualGUID(IID_IQNServer, attributes->guid));
    info->ReleaseTypeAttr(attributes);

    ITypeInfo* none = reinterpret_cast<ITypeInfo*>(1);
    EXPECT_EQ(DISP_E_BADINDEX, dispatch->GetTypeInfo(1, LOCALE_USER_DEFAULT, &none));
    EXPECT_EQ(nullptr, none);
}

TEST_F(Dispatch, PropertiesByNameReachTheVtable) {
    const DISPID address = IdOf(dispatch.get(), L"Address");
    EXPECT_EQ(1, address);
    const unique_bstr name(L"srv-1.example");
    ASSERT_EQ(S_OK, Put(dispatch.get(), address, Text(name)));
    unique_bstr stored;
    ASSERT_EQ(S_OK, server->get_Address(stored.put()));
    EXPECT_STREQ(L"srv-1.example", stored.get());

    // A 16-bit integer is converted to the ULONG the vtable method takes.
    const DISPID port = IdOf(dispatch.get(), L"port");
    EXPECT_EQ(3, port);
    VARIANT shortPort;
    V_VT(&shortPort) = VT_I2;
    V_I2(&shortPort) = 4242;
    ASSERT_EQ(S_OK, Put(dispatch.get(), port, shortPort));
    ULONG portValue = 0;
    ASSERT_EQ(S_OK, server->get_Port(&portValue));
    EXPECT_EQ(4242u, portValue);

    ASSERT_EQ(S_OK, server->put_StateCode(86));
    unique_variant state;
    ASSERT_EQ(S_OK, Get(dispatch.get(), IdOf(dispatch.get(), L"StateCode"), state));
    ASSERT_EQ(VT_I4, state.type());
    EXPECT_EQ(86, V_I4(&state.get()));

    unique_variant back;
    ASSERT_EQ(S_OK, Get(dispatch.get(), address, back));
    ASSERT_EQ(VT_BSTR, back.type());
    EXPECT_STREQ(L"srv-1.example", V_BSTR(&back.get()));
}

TEST_F(Dispatch, UnknownNamesIdentifiersAndInterfacesAreRefused) {
    IdOf(dispatch.get(), L"Nope", DISP_E_UNKNOWNNAME);
    unique_variant ignored;
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND, Get(dispatch.get(), 4, ignored));

    std::wstring text = L"Address";
    LPOLESTR names[] = {text.data()};
    DISPID id = 0;
    EXPECT_EQ(DISP_E_UNKNOWNINTERFACE,
              dispatch->GetIDsOfNames(IID_IQNServer, names, 1, LOCALE_USER_DEFAULT, &id));
    const unique_bstr name(L"x");
    EXPECT_EQ(DISP_E_UNKNOWNINTERFACE, Put(dispatch.get(), 1, Text(name), IID_IQNServer));
}

// Each dual interface has its own type information.
TEST_F(Dispatch, EachInterfaceAnswersWithItsOwnNames) {
    com_ptr<IQNAlarm> alarm;
    ASSERT_EQ(S_OK, ClassFactory<TestAlarm>::Make()->CreateInstance(nullptr, IID_IQNAlarm,
                                                                    alarm.put_void()));
    com_ptr<IDispatch> alarmDispatch = alarm.query<IDispatch>();
    IdOf(alarmDispatch.get(), L"Address", DISP_E_UNKNOWNNAME);
    const DISPID port = IdOf(alarmDispatch.get(), L"ComPort");
    const unique_bstr name(L"COM3");
    ASSERT_EQ(S_OK, Put(alarmDispatch.get(), port, Text(name)));
    unique_bstr stored;
    ASSERT_EQ(S_OK, alarm->get_ComPort(stored.put()));
    EXPECT_STREQ(L"COM3", stored.get());
}

} // namespace
