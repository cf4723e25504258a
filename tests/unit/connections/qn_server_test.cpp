// The QNServer property holder, its copy for the server list, and the order
// of server addresses.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "com/bstr.h"
#include "com/class_factory.h"
#include "com/com_object.h"
#include "connections/address_less.h"
#include "connections/clone_server.h"
#include "connections/qn_server.h"
#include "tests/unit/connections/test_environment.h"

namespace krvn_test {
namespace {

using KRVN::com_ptr;
using KRVN::unique_bstr;

unique_bstr ReadAddress(IQNServer* server) {
    unique_bstr value;
    EXPECT_EQ(S_OK, server->get_Address(value.put()));
    return value;
}

com_ptr<IQNServer> NewServer() {
    return com_ptr<IQNServer>(KRVN::com::ComObject<QNServer>::Make());
}

TEST(QNServerTest, StartsEmptyAndNeverProbed) {
    const auto server = NewServer();
    unique_bstr password;
    ULONG port = 1;
    LONG state = 0;
    EXPECT_FALSE(ReadAddress(server.get()));
    EXPECT_EQ(S_OK, server->get_Password(password.put()));
    EXPECT_FALSE(password);
    EXPECT_EQ(S_OK, server->get_Port(&port));
    EXPECT_EQ(0u, port);
    EXPECT_EQ(S_OK, server->get_StateCode(&state));
    EXPECT_EQ(-1, state);
}

TEST(QNServerTest, StringsAreCopiedInAndOut) {
    const auto server = NewServer();
    unique_bstr given(L"srv1");
    ASSERT_EQ(S_OK, server->put_Address(given.get()));
    given.get()[0] = L'X';

    const unique_bstr first = ReadAddress(server.get());
    const unique_bstr second = ReadAddress(server.get());
    EXPECT_STREQ(L"srv1", first.get());
    EXPECT_NE(first.get(), second.get());
    EXPECT_NE(given.get(), first.get());
}

// Stored up to the zero, "ab\0cd" would pass for "ab".
TEST(QNServerTest, PutRefusesAZeroCharacterInside) {
    const auto server = NewServer();
    unique_bstr given;
    given.reset(::SysAllocStringLen(L"ab\0cd", 5));
    EXPECT_EQ(E_INVALIDARG, server->put_Address(given.get()));
    EXPECT_EQ(E_INVALIDARG, server->put_Password(given.get()));
    unique_bstr stored;
    ASSERT_EQ(S_OK, server->get_Password(stored.put()));
    EXPECT_FALSE(stored);
    EXPECT_FALSE(ReadAddress(server.get()));
}

TEST(QNServerTest, NullClearsAndNullOutPointersAreRefused) {
    const auto server = NewServer();
    const unique_bstr given(L"srv1");
    ASSERT_EQ(S_OK, server->put_Address(given.get()));
    ASSERT_EQ(S_OK, server->put_Address(nullptr));
    EXPECT_FALSE(ReadAddress(server.get()));
    EXPECT_EQ(E_POINTER, server->get_Address(nullptr));
    EXPECT_EQ(E_POINTER, server->get_Port(nullptr));
    EXPECT_EQ(E_POINTER, server->get_StateCode(nullptr));
}

TEST(QNServerTest, NumbersAreStoredWithoutARangeCheck) {
    const auto server = NewServer();
    ASSERT_EQ(S_OK, server->put_Port(0xFFFFFFFFu));
    ASSERT_EQ(S_OK, server->put_StateCode(-12345));
    ULONG port = 0;
    LONG state = 0;
    server->get_Port(&port);
    server->get_StateCode(&state);
    EXPECT_EQ(0xFFFFFFFFu, port);
    EXPECT_EQ(-12345, state);
}

TEST(QNServerTest, AnswersItsInterfaceMapOnly) {
    const auto server = NewServer();
    const auto dispatch = server.try_query<IDispatch>();
    ASSERT_TRUE(dispatch);
    EXPECT_EQ(static_cast<IDispatch*>(server.get()), dispatch.get());
    UINT count = 0;
    EXPECT_EQ(S_OK, dispatch->GetTypeInfoCount(&count));
    EXPECT_EQ(1u, count);
    EXPECT_FALSE(server.try_query<IQNServers>());
    EXPECT_FALSE(server.try_query<IClassFactory>());
}

// A minimal controlling object that aggregates a QNServer.
class Outer final : public IUnknown {
public:
    HRESULT Aggregate() {
        return KRVN::com::ClassFactory<QNServer>::Make()->CreateInstance(this, IID_IUnknown,
                                                                         m_inner.put_void());
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** result) override {
        if (::IsEqualIID(iid, IID_IUnknown)) {
            *result = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        return m_inner->QueryInterface(iid, result);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_count; }
    ULONG STDMETHODCALLTYPE Release() override { return --m_count; }
    ULONG Count() const noexcept { return m_count; }
    void DropInner() noexcept { m_inner.reset(); }

private:
    std::atomic<ULONG> m_count{1};
    com_ptr<IUnknown> m_inner;
};

TEST(QNServerTest, WorksAsAnAggregatedPart) {
    Outer outer;
    ASSERT_EQ(S_OK, outer.Aggregate());
    {
        com_ptr<IQNServer> server;
        ASSERT_EQ(S_OK, outer.QueryInterface(__uuidof(IQNServer), server.put_void()));
        // The part's references count on the outer object...
        EXPECT_EQ(2u, outer.Count());
        // ...and its IUnknown is the outer one.
        com_ptr<IUnknown> identity;
        ASSERT_EQ(S_OK, server->QueryInterface(IID_IUnknown, identity.put_void()));
        EXPECT_EQ(static_cast<IUnknown*>(&outer), identity.get());

        const unique_bstr address(L"srv1");
        EXPECT_EQ(S_OK, server->put_Address(address.get()));
        EXPECT_STREQ(L"srv1", ReadAddress(server.get()).get());
    }
    EXPECT_EQ(1u, outer.Count());
    outer.DropInner();

    void* refused = reinterpret_cast<void*>(1);
    EXPECT_EQ(CLASS_E_NOAGGREGATION, KRVN::com::ClassFactory<QNServer>::Make()->CreateInstance(
                                         &outer, __uuidof(IQNServer), &refused));
    EXPECT_EQ(nullptr, refused);
}

TEST(QNServerTest, ConcurrentReadersNeverSeeAFreedOrTornString) {
    const auto server = NewServer();
    // Equal lengths: memory a writer frees is soon reused for another value,
    // so a reader copying without the lock would see a mixture (the test runs
    // with Wine's string cache off, see CMakeLists.txt). The race needs time
    // to show, so the threads run for a fixed while.
    constexpr size_t kLength = 4096;
    constexpr ULONGLONG kRunMs = 3000;
    const std::vector<std::wstring> values = {
        std::wstring(kLength, L'a'), std::wstring(kLength, L'b'), std::wstring(kLength, L'c')};
    const ULONGLONG deadline = ::GetTickCount64() + kRunMs;
    std::atomic<int> badReads{0};
    std::atomic<int> reads{0};
    std::vector<std::thread> threads;
    for (int writer = 0; writer < 2; ++writer) {
        threads.emplace_back([&, writer] {
            for (int i = writer; ::GetTickCount64() < deadline; ++i) {
                const unique_bstr value(i % 4 == 3 ? nullptr : values[i % 4].c_str());
                server->put_Address(value.get());
            }
        });
    }
    for (int reader = 0; reader < 3; ++reader) {
        threads.emplace_back([&] {
            while (::GetTickCount64() < deadline) {
                unique_bstr value;
                server->get_Address(value.put());
                ++reads;
                if (value) {
                    const std::wstring read(value.get(), value.length());
                    badReads += std::find(values.begin(), values.end(), read) == values.end();
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_GT(reads.load(), 1000);
    EXPECT_EQ(0, badReads.load());
}

TEST(CloneServerTest, CopiesTheSettingsIntoANewNeverProbedObject) {
    const auto source = MakeServerObject(L"Srv1", L"secret", 7000);
    source->put_StateCode(0);

    com_ptr<IQNServer> copy;
    ASSERT_EQ(S_OK, CloneServer(source.get(), copy));
    ASSERT_TRUE(copy);
    EXPECT_NE(source.get(), copy.get());
    unique_bstr password;
    ULONG port = 0;
    LONG state = 0;
    copy->get_Password(password.put());
    copy->get_Port(&port);
    copy->get_StateCode(&state);
    EXPECT_STREQ(L"Srv1", ReadAddress(copy.get()).get());
    EXPECT_STREQ(L"secret", password.get());
    EXPECT_EQ(7000u, port);
    EXPECT_EQ(-1, state);

    const unique_bstr changed(L"other");
    copy->put_Address(changed.get());
    EXPECT_STREQ(L"Srv1", ReadAddress(source.get()).get());
}

TEST(CloneServerTest, KeepsUnsetStringsUnset) {
    const auto source = MakeServerObject(nullptr, nullptr, 0);
    com_ptr<IQNServer> copy;
    ASSERT_EQ(S_OK, CloneServer(source.get(), copy));
    EXPECT_FALSE(ReadAddress(copy.get()));
}

TEST(CloneServerTest, RefusesWhatIsNotAServer) {
    com_ptr<IQNServer> copy;
    EXPECT_EQ(E_POINTER, CloneServer(nullptr, copy));
    EXPECT_FALSE(copy);

    com_ptr<IClassFactory> notAServer = KRVN::com::ClassFactory<QNServer>::Make();
    EXPECT_EQ(E_NOINTERFACE, CloneServer(notAServer.get(), copy));
    EXPECT_FALSE(copy);
}

TEST(AddressLessTest, FoldsOnlyAsciiLettersAndPutsTheShorterFirst) {
    const AddressLess less;
    const auto same = [&](const std::wstring& a, const std::wstring& b) {
        return !less(a, b) && !less(b, a);
    };
    EXPECT_TRUE(same(L"Server1", L"SERVER1"));
    EXPECT_TRUE(same(L"A_", L"a_"));
    EXPECT_TRUE(less(L"srv", L"srv2"));
    EXPECT_TRUE(less(L"ab", L"ab_"));
    // '_' (0x5F) sorts below 'b' (0x62) once 'B' is folded.
    EXPECT_TRUE(less(L"a_", L"ab"));
    EXPECT_TRUE(less(L"a_", L"AB"));
    // Letters outside A-Z are compared as they are.
    EXPECT_FALSE(same(L"\u00C4", L"\u00E4"));
    EXPECT_TRUE(less(L"\u00C4", L"\u00E4"));
    EXPECT_TRUE(less(L"z", L"\u00C4"));
}

} // namespace
} // namespace krvn_test
