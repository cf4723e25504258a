// Objects made through their class factories: interface map and identity,
// module counts, aggregation, free-threaded reference counting, failures.

#include "com/class_factory.h"
#include "com/com_object.h"
#include "com/module.h"
#include "common/unique_handle.h"
#include "test_classes.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

using KRVN::com_ptr;
using krvn_test::TestAlarm;
using krvn_test::TestServer;
using namespace KRVN::com;

class Refused : public IRedButtonEvents {
public:
    static constexpr Aggregation kAggregation = Aggregation::Refused;
    using Interfaces = InterfaceMap<Entry<IRedButtonEvents>>;

    Refused() { KRVN_RAISE(E_ACCESSDENIED); }
    HRESULT STDMETHODCALLTYPE RedButtonPressed() override { return S_OK; }
};

// An outer object that aggregates one inner object, as a client of the
// factory would write it.
class Outer final : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** result) override {
        if (::IsEqualIID(iid, IID_IUnknown)) {
            *result = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        return inner->QueryInterface(iid, result);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++count; }
    ULONG STDMETHODCALLTYPE Release() override {
        if (--count == 0) {
            inner.reset();
        }
        return count;
    }

    ULONG count = 1;
    com_ptr<IUnknown> inner;
};

template <typename T> com_ptr<T> Create(IClassFactory* factory) {
    com_ptr<T> object;
    EXPECT_EQ(S_OK, factory->CreateInstance(nullptr, __uuidof(T), object.put_void()));
    return object;
}

IUnknown* Identity(IUnknown* object) {
    com_ptr<IUnknown> unknown;
    EXPECT_EQ(S_OK, object->QueryInterface(IID_IUnknown, unknown.put_void()));
    return unknown.get();
}

TEST(ComObject, AnswersItsInterfaceMapWithOneIdentity) {
    com_ptr<IQNAlarm> alarm = Create<IQNAlarm>(ClassFactory<TestAlarm>::Make().get());
    ASSERT_TRUE(alarm);
    com_ptr<IDispatch> dispatch = alarm.query<IDispatch>();
    com_ptr<ISupportErrorInfo> errors = alarm.query<ISupportErrorInfo>();
    com_ptr<IEstablishCommunications> communications = alarm.query<IEstablishCommunications>();
    EXPECT_EQ(static_cast<IDispatch*>(alarm.get()), dispatch.get());

    IUnknown* identity = Identity(alarm.get());
    EXPECT_EQ(identity, Identity(dispatch.get()));
    EXPECT_EQ(identity, Identity(errors.get()));
    EXPECT_EQ(identity, Identity(communications.get()));

    void* other = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE, alarm->QueryInterface(IID_IQNServer, &other));
    EXPECT_EQ(nullptr, other);
    EXPECT_EQ(E_POINTER, alarm->QueryInterface(IID_IDispatch, nullptr));
}

TEST(ComObject, SupportErrorInfoNamesOnlyTheListedInterface) {
    com_ptr<IQNAlarm> alarm = Create<IQNAlarm>(ClassFactory<TestAlarm>::Make().get());
    com_ptr<ISupportErrorInfo> errors = alarm.query<ISupportErrorInfo>();
    EXPECT_EQ(S_OK, errors->InterfaceSupportsErrorInfo(IID_IQNAlarm));
    EXPECT_EQ(S_FALSE, errors->InterfaceSupportsErrorInfo(IID_IEstablishCommunications));
}

TEST(ComObject, FailedCreationLeavesNoObjectBehind) {
    const long before = Module::Instance().ObjectCount();
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_ACCESSDENIED, ComObject<Refused>::CreateInstance(nullptr, IID_IUnknown, &object));
    EXPECT_EQ(nullptr, object);
    EXPECT_EQ(before, Module::Instance().ObjectCount());

    // Made, then asked for an interface it lacks: destroyed again.
    object = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE,
              ClassFactory<TestServer>::Make()->CreateInstance(nullptr, IID_IQNAlarm, &object));
    EXPECT_EQ(nullptr, object);
    EXPECT_EQ(before, Module::Instance().ObjectCount());
}

TEST(ComObject, ReferenceCountHoldsUnderConcurrentUse) {
    const long before = Module::Instance().ObjectCount();
    com_ptr<IQNServer> server = ComObject<TestServer>::Make();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([raw = server.get()] {
            for (int i = 0; i < 20000; ++i) {
                com_ptr<IQNServer> copy(raw);
                ULONG port = 0;
                copy->get_Port(&port);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(before + 1, Module::Instance().ObjectCount());
    EXPECT_EQ(2u, server->AddRef());
    EXPECT_EQ(1u, server->Release());
    server.reset();
    EXPECT_EQ(before, Module::Instance().ObjectCount());
}

TEST(Module, CountsObjectsAndLocksAndSaysWhenBothAreGone) {
    ASSERT_EQ(0, Module::Instance().ObjectCount());
    ASSERT_EQ(0, Module::Instance().LockCount());
    int unused = 0;
    Module::Instance().SetUnusedHandler([&] { ++unused; });
    const auto restore = KRVN::scope_exit([] { Module::Instance().SetUnusedHandler(nullptr); });

    com_ptr<IClassFactory> factory = ClassFactory<TestServer>::Make();
    EXPECT_EQ(S_OK, factory->LockServer(TRUE));
    EXPECT_EQ(1, Module::Instance().LockCount());
    com_ptr<IQNServer> first = Create<IQNServer>(factory.get());
    com_ptr<IQNServer> second = Create<IQNServer>(factory.get());
    EXPECT_EQ(2, Module::Instance().ObjectCount());
    first.reset();
    second.reset();
    EXPECT_EQ(0, Module::Instance().ObjectCount());
    EXPECT_EQ(0, unused) << "a lock is still held";
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
    EXPECT_EQ(1, unused);

    Create<IQNServer>(factory.get()).reset();
    EXPECT_EQ(2, unused);
    EXPECT_EQ(0, Module::Instance().ObjectCount());
    EXPECT_EQ(0, Module::Instance().LockCount());
}

TEST(Aggregation, AllowedClassDelegatesItsIUnknownToTheOuterObject) {
    const long before = Module::Instance().ObjectCount();
    Outer outer;
    ASSERT_EQ(S_OK, ClassFactory<TestServer>::Make()->CreateInstance(&outer, IID_IUnknown,
                                                                     outer.inner.put_void()));
    EXPECT_NE(static_cast<IUnknown*>(&outer), outer.inner.get());
    EXPECT_EQ(before + 1, Module::Instance().ObjectCount());
    {
        com_ptr<IQNServer> server;
        ASSERT_EQ(S_OK, outer.QueryInterface(IID_IQNServer, server.put_void()));
        EXPECT_EQ(2u, outer.count) << "the part's reference was not counted on the outer object";
        EXPECT_EQ(static_cast<IUnknown*>(&outer), Identity(server.get()));
        EXPECT_EQ(S_OK, server->put_Port(7));
        ULONG port = 0;
        EXPECT_EQ(S_OK, server->get_Port(&port));
        EXPECT_EQ(7u, port);
        // The inner unknown is the part's own identity, for its owner only.
        com_ptr<IUnknown> inner;
        ASSERT_EQ(S_OK, outer.inner->QueryInterface(IID_IUnknown, inner.put_void()));
        EXPECT_EQ(outer.inner.get(), inner.get());
    }
    EXPECT_EQ(1u, outer.count);
    outer.Release();
    EXPECT_EQ(before, Module::Instance().ObjectCount());
}

TEST(Aggregation, AnAggregatedPartMayOnlyBeAskedForIUnknown) {
    Outer outer;
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(CLASS_E_NOAGGREGATION,
              ClassFactory<TestServer>::Make()->CreateInstance(&outer, IID_IQNServer, &object));
    EXPECT_EQ(nullptr, object);
}

TEST(Aggregation, RefusingClassAnswersNoAggregation) {
    const long before = Module::Instance().ObjectCount();
    Outer outer;
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(CLASS_E_NOAGGREGATION,
              ClassFactory<TestAlarm>::Make()->CreateInstance(&outer, IID_IUnknown, &object));
    EXPECT_EQ(nullptr, object);
    EXPECT_EQ(before, Module::Instance().ObjectCount());
    EXPECT_EQ(1u, outer.count);
}

} // namespace
