#include "fake_service.h"

#include <algorithm>
#include <functional>

#include "com/bstr.h"

namespace {

using KRVN::com::ComObject;

std::wstring Text(BSTR value) {
    return value ? std::wstring(value, ::SysStringLen(value)) : L"";
}

HRESULT Copy(const std::wstring& text, BSTR* value) {
    *value = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *value ? S_OK : E_OUTOFMEMORY;
}

// A class object that answers every creation with `create`.
class Factory final : public IClassFactory {
public:
    explicit Factory(std::function<HRESULT(REFIID, void**)> create) : m_create(std::move(create)) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** result) override {
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *result = this;
            AddRef();
            return S_OK;
        }
        *result = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_count; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --m_count;
        if (left == 0) {
            delete this;
        }
        return left;
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** result) override {
        return outer ? CLASS_E_NOAGGREGATION : m_create(iid, result);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

private:
    std::function<HRESULT(REFIID, void**)> m_create;
    std::atomic<ULONG> m_count{0};
};

// The settings a client put on a server object of its own making.
ServerEntry Read(IDispatch* object) {
    ServerEntry entry;
    KRVN::com_ptr<IQNServer> server;
    if (!object || FAILED(object->QueryInterface(IID_IQNServer, server.put_void()))) {
        return entry;
    }
    KRVN::unique_bstr text;
    server->get_Address(text.put());
    entry.address = Text(text.get());
    server->get_Password(text.put());
    entry.password = Text(text.get());
    server->get_Port(&entry.port);
    return entry;
}

std::wstring Describe(const ServerEntry& entry) {
    return entry.address + L"|" + entry.password + L"|" + std::to_wstring(entry.port);
}

} // namespace

void FakeState::Log(std::wstring call) {
    std::lock_guard<std::mutex> guard(lock);
    calls.push_back(std::move(call));
}

std::vector<std::wstring> FakeState::Calls() {
    std::lock_guard<std::mutex> guard(lock);
    return calls;
}

bool FakeState::Called(const std::wstring& call) {
    const auto all = Calls();
    return std::find(all.begin(), all.end(), call) != all.end();
}

HRESULT FakeServer::Failure(const wchar_t* getter) {
    if (!m_state) {
        return S_OK;
    }
    std::lock_guard<std::mutex> guard(m_state->lock);
    const bool fails =
        m_state->failingGetter == getter &&
        (m_state->failingAddress.empty() || m_state->failingAddress == m_entry.address);
    return fails ? HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE) : S_OK;
}

HRESULT FakeServer::get_Address(BSTR* value) {
    const HRESULT hr = Failure(L"Address");
    return hr != S_OK ? hr : Copy(m_entry.address, value);
}
HRESULT FakeServer::put_Address(BSTR value) {
    m_entry.address = Text(value);
    return S_OK;
}
HRESULT FakeServer::get_Password(BSTR* value) {
    const HRESULT hr = Failure(L"Password");
    return hr != S_OK ? hr : Copy(m_entry.password, value);
}
HRESULT FakeServer::put_Password(BSTR value) {
    m_entry.password = Text(value);
    return S_OK;
}
HRESULT FakeServer::get_Port(ULONG* value) {
    *value = m_entry.port;
    return Failure(L"Port");
}
HRESULT FakeServer::put_Port(ULONG value) {
    m_entry.port = value;
    return S_OK;
}
HRESULT FakeServer::get_StateCode(LONG* value) {
    *value = m_entry.state;
    return Failure(L"StateCode");
}
HRESULT FakeServer::put_StateCode(LONG value) {
    m_entry.state = value;
    return S_OK;
}

HRESULT FakeServers::Item(VARIANT index, VARIANT* item) {
    std::lock_guard<std::mutex> guard(m_state.lock);
    if (m_state.itemResult != S_OK) {
        return m_state.itemResult;
    }
    if (V_VT(&index) != VT_I4 || V_I4(&index) < 0 ||
        static_cast<size_t>(V_I4(&index)) >= m_state.servers.size()) {
        return E_INVALIDARG;
    }
    auto server = ComObject<FakeServer>::Make(&m_state, m_state.servers[V_I4(&index)]);
    V_VT(item) = VT_DISPATCH;
    V_DISPATCH(item) = static_cast<IQNServer*>(server.detach());
    return S_OK;
}

HRESULT FakeServers::get_Count(LONG* count) {
    std::lock_guard<std::mutex> guard(m_state.lock);
    *count = static_cast<LONG>(m_state.servers.size());
    return m_state.countResult;
}

HRESULT FakeServers::Add(IDispatch* object) {
    ServerEntry entry = Read(object);
    m_state.Log(L"Add " + Describe(entry));
    std::lock_guard<std::mutex> guard(m_state.lock);
    if (m_state.addResult == S_OK) {
        m_state.servers.push_back(entry);
    }
    return m_state.addResult;
}

HRESULT FakeServers::Remove(BSTR address) {
    m_state.Log(L"Remove " + Text(address));
    std::lock_guard<std::mutex> guard(m_state.lock);
    if (m_state.removeResult == S_OK) {
        auto& list = m_state.servers;
        list.erase(std::remove_if(list.begin(), list.end(),
                                  [&](const ServerEntry& e) { return e.address == Text(address); }),
                   list.end());
    }
    return m_state.removeResult;
}

HRESULT FakeServers::SendAlarm() {
    m_state.Log(L"SendAlarm");
    return S_OK;
}

HRESULT FakeServers::TryConnect(IDispatch* object) {
    ServerEntry entry = Read(object);
    m_state.Log(L"TryConnect " + Describe(entry));
    std::lock_guard<std::mutex> guard(m_state.lock);
    const auto found = m_state.tryResults.find(entry.address);
    entry.state = found == m_state.tryResults.end() ? 0 : found->second;
    // Like the service: a reachable server is listed at once.
    if (entry.state == 0) {
        m_state.servers.push_back(entry);
    }
    return entry.state;
}

HRESULT FakeServers::get_State(eConnectState* state) {
    std::lock_guard<std::mutex> guard(m_state.lock);
    *state = m_state.state;
    return m_state.stateResult;
}

HRESULT FakeAlarm::get_ComPort(BSTR* value) {
    std::lock_guard<std::mutex> guard(m_state.lock);
    const HRESULT hr = m_state.getPortResult;
    return hr != S_OK ? hr : Copy(m_state.comPort, value);
}

HRESULT FakeAlarm::put_ComPort(BSTR value) {
    m_state.Log(L"put_ComPort " + Text(value));
    std::lock_guard<std::mutex> guard(m_state.lock);
    if (m_state.putPortResult == S_OK) {
        m_state.comPort = Text(value);
    }
    return m_state.putPortResult;
}

HRESULT FakeAlarm::Advise(IRedButtonEvents* sink) {
    m_state.Log(L"Advise");
    std::lock_guard<std::mutex> guard(m_state.lock);
    if (m_state.adviseResult == S_OK) {
        m_state.redButtonSink = KRVN::com_ptr<IRedButtonEvents>(sink);
    }
    return m_state.adviseResult;
}

HRESULT FakeAlarm::Unadvise() {
    m_state.Log(L"Unadvise");
    std::lock_guard<std::mutex> guard(m_state.lock);
    m_state.redButtonSink.reset();
    return m_state.unadviseResult;
}

HRESULT FakeAlarm::AdviseChangeIcon(IChangeIconEvents* sink) {
    m_state.Log(L"AdviseChangeIcon");
    std::lock_guard<std::mutex> guard(m_state.lock);
    if (m_state.adviseIconResult == S_OK) {
        m_state.iconSink = KRVN::com_ptr<IChangeIconEvents>(sink);
    }
    return m_state.adviseIconResult;
}

HRESULT FakeAlarm::UnadviseChangeIcon() {
    m_state.Log(L"UnadviseChangeIcon");
    std::lock_guard<std::mutex> guard(m_state.lock);
    m_state.iconSink.reset();
    return S_OK;
}

HRESULT FakeAlarm::SetSendRedButtonCallback(LONG value) {
    m_state.Log(L"SetSendRedButtonCallback " + std::to_wstring(value));
    return S_OK;
}

FakeService::FakeService()
    : m_alarm(ComObject<FakeAlarm>::Make(state)), m_servers(ComObject<FakeServers>::Make(state)) {
    const auto add = [this](const CLSID& clsid, std::function<HRESULT(REFIID, void**)> create) {
        KRVN::com_ptr<IClassFactory> factory(new Factory(std::move(create)));
        ::CoRegisterClassObject(clsid, factory.get(), CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE,
                                m_cookies[&clsid].put());
    };
    add(CLSID_QNAlarm,
        [this](REFIID iid, void** out) { return m_alarm->QueryInterface(iid, out); });
    add(CLSID_QNServers,
        [this](REFIID iid, void** out) { return m_servers->QueryInterface(iid, out); });
    add(CLSID_QNServer, [this](REFIID iid, void** out) {
        return ComObject<FakeServer>::Make(&state, ServerEntry())->QueryInterface(iid, out);
    });
}

FakeService::~FakeService() {
    m_cookies.clear();
    std::lock_guard<std::mutex> guard(state.lock);
    state.redButtonSink.reset();
    state.iconSink.reset();
}

void FakeService::Revoke(const CLSID& clsid) {
    m_cookies.erase(&clsid);
}

ULONG FakeService::AlarmReferences() {
    m_alarm->AddRef();
    return m_alarm->Release() - 1;
}
