#pragma once
// In-process stand-ins for the service's QNAlarm, QNServers and QNServer,
// registered as class objects of this process: the program's own
// CoCreateInstance(CLSCTX_LOCAL_SERVER) then reaches them. They keep what the
// program did to them, and answer as the test tells them to.

#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "com/class_objects.h"
#include "com/com_object.h"
#include "com/com_ptr.h"
#include "com/interface_map.h"
#include "contract/TolvaneLib.h"

// IDispatch is not what the program uses; the fakes do not serve it.
template <typename I> class NoDispatch : public I {
public:
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        return E_NOTIMPL;
    }
};

struct ServerEntry {
    std::wstring address;
    std::wstring password;
    ULONG port = 0;
    LONG state = -1;
};

// What the fakes answer and what they were asked; shared by all of them.
struct FakeState {
    std::mutex lock;
    std::vector<std::wstring> calls; // "TryConnect a|p|80", "Remove a", ...
    std::vector<ServerEntry> servers;
    std::map<std::wstring, LONG> tryResults; // by address; absent: 0
    // Results the test may change while the program runs.
    std::atomic<HRESULT> countResult{S_OK}, itemResult{S_OK}, addResult{S_OK}, removeResult{S_OK};
    std::atomic<HRESULT> stateResult{S_OK};
    // "Address", "Password", "Port" or "StateCode" of the listed server
    // `failingAddress` (of every one when empty) fails.
    std::wstring failingGetter;
    std::wstring failingAddress;
    eConnectState state = AllConnected;
    std::wstring comPort = L"COM2";
    std::atomic<HRESULT> getPortResult{S_OK}, putPortResult{S_OK};
    std::atomic<HRESULT> adviseResult{S_OK}, unadviseResult{S_OK}, adviseIconResult{S_OK};
    KRVN::com_ptr<IRedButtonEvents> redButtonSink;
    KRVN::com_ptr<IChangeIconEvents> iconSink;

    void Log(std::wstring call);
    std::vector<std::wstring> Calls();
    bool Called(const std::wstring& call);
};

class FakeServer : public NoDispatch<IQNServer> {
public:
    using Interfaces = KRVN::com::InterfaceMap<KRVN::com::Entry<IQNServer>,
                                               KRVN::com::Entry<IDispatch, IQNServer>>;
    static constexpr auto kAggregation = KRVN::com::Aggregation::Refused;

    FakeServer() = default;
    FakeServer(FakeState* state, ServerEntry entry) : m_state(state), m_entry(std::move(entry)) {}

    HRESULT STDMETHODCALLTYPE get_Address(BSTR* value) override;
    HRESULT STDMETHODCALLTYPE put_Address(BSTR value) override;
    HRESULT STDMETHODCALLTYPE get_Password(BSTR* value) override;
    HRESULT STDMETHODCALLTYPE put_Password(BSTR value) override;
    HRESULT STDMETHODCALLTYPE get_Port(ULONG* value) override;
    HRESULT STDMETHODCALLTYPE put_Port(ULONG value) override;
    HRESULT STDMETHODCALLTYPE SendAlarm() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE get_StateCode(LONG* value) override;
    HRESULT STDMETHODCALLTYPE put_StateCode(LONG value) override;

private:
    HRESULT Failure(const wchar_t* getter);

    FakeState* m_state = nullptr;
    ServerEntry m_entry;
};

class FakeServers : public NoDispatch<IQNServers> {
public:
    using Interfaces = KRVN::com::InterfaceMap<KRVN::com::Entry<IQNServers>,
                                               KRVN::com::Entry<IDispatch, IQNServers>>;
    explicit FakeServers(FakeState& state) : m_state(state) {}

    HRESULT STDMETHODCALLTYPE Item(VARIANT index, VARIANT* item) override;
    HRESULT STDMETHODCALLTYPE get_Count(LONG* count) override;
    HRESULT STDMETHODCALLTYPE Add(IDispatch* server) override;
    HRESULT STDMETHODCALLTYPE Remove(BSTR address) override;
    HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SendAlarm() override;
    HRESULT STDMETHODCALLTYPE TryConnect(IDispatch* server) override;
    HRESULT STDMETHODCALLTYPE RefreshState() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE get_State(eConnectState* state) override;

private:
    FakeState& m_state;
};

class FakeAlarm : public NoDispatch<IQNAlarm>, public IEstablishCommunications {
public:
    using Interfaces =
        KRVN::com::InterfaceMap<KRVN::com::Entry<IQNAlarm>, KRVN::com::Entry<IDispatch, IQNAlarm>,
                                KRVN::com::Entry<IEstablishCommunications>>;
    explicit FakeAlarm(FakeState& state) : m_state(state) {}

    HRESULT STDMETHODCALLTYPE get_ComPort(BSTR* value) override;
    HRESULT STDMETHODCALLTYPE put_ComPort(BSTR value) override;
    HRESULT STDMETHODCALLTYPE Advise(IRedButtonEvents* sink) override;
    HRESULT STDMETHODCALLTYPE Unadvise() override;
    HRESULT STDMETHODCALLTYPE AdviseChangeIcon(IChangeIconEvents* sink) override;
    HRESULT STDMETHODCALLTYPE UnadviseChangeIcon() override;
    HRESULT STDMETHODCALLTYPE SetSendRedButtonCallback(LONG value) override;

private:
    FakeState& m_state;
};

// The three classes registered for as long as the object lives; the alarm
// and the collection are one object each, as in the service.
class FakeService {
public:
    FakeService();
    ~FakeService();

    FakeState state;
    // Makes QNServer (or any of them) unknown again.
    void Revoke(const CLSID& clsid);
    // References the program holds on the alarm object, beyond our own.
    ULONG AlarmReferences();

private:
    KRVN::com_ptr<KRVN::com::ComObject<FakeAlarm>> m_alarm;
    KRVN::com_ptr<KRVN::com::ComObject<FakeServers>> m_servers;
    std::map<const CLSID*, KRVN::com::unique_class_object_cookie> m_cookies;
};
