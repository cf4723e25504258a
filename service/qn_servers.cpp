#include "service/qn_servers.h"

#include <vector>

#include "com/bstr.h"
#include "com/com_ptr.h"
#include "com/result.h"
#include "com/variant.h"
#include "connections/address_less.h"
#include "connections/clone_server.h"
#include "connections/configuration_gate.h"
#include "connections/server_enumerator.h"
#include "service/alarm_manager.h"
#include "service/client_caller.h"
#include "service/event_text.h"

namespace {

bool IsNumber(VARTYPE type) {
    switch (type) {
    case VT_I1:
    case VT_I2:
    case VT_I4:
    case VT_I8:
    case VT_INT:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_UI8:
    case VT_UINT:
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_DECIMAL:
        return true;
    default:
        return false;
    }
}

// The entry at a position in list order or with an equal address. Script
// variables arrive by reference (VT_BYREF | VT_VARIANT), which VariantCopyInd
// takes off; any number is a position, a fraction rounded half to even as
// VBScript's CLng does.
HRESULT FindEntry(const AlarmManager::Snapshot& entries, VARIANT& given,
                  AlarmManager::Entry& found) {
    KRVN::unique_variant index;
    if (FAILED(::VariantCopyInd(index.put(), &given))) {
        return E_INVALIDARG;
    }
    const VARIANT& plain = index.get();
    if (V_VT(&plain) == VT_BSTR) {
        // All of it: an address cut at a zero inside would name another server.
        const std::wstring address(V_BSTR(&plain) ? V_BSTR(&plain) : L"",
                                   ::SysStringLen(V_BSTR(&plain)));
        const AddressLess less;
        for (const auto& [key, entry] : entries) {
            if (!less(key, address) && !less(address, key)) {
                found = entry;
                return S_OK;
            }
        }
        return AlarmManager::kNotListed;
    }
    // A number beyond 32 bits is beyond the list as well. VariantChangeType
    // only reads its source; the header just lacks the const.
    KRVN::unique_variant converted;
    if (!IsNumber(V_VT(&plain)) ||
        FAILED(::VariantChangeType(converted.put(), const_cast<VARIANT*>(&plain), 0, VT_I4))) {
        return E_INVALIDARG;
    }
    const LONG position = V_I4(&converted.get());
    if (position < 0 || static_cast<size_t>(position) >= entries.size()) {
        return E_INVALIDARG;
    }
    found = entries[static_cast<size_t>(position)].second;
    return S_OK;
}

// Hands a value out through a parameter the client may have left null.
template <class Out, class Value> HRESULT GiveOut(Out* out, Value value) {
    if (!out) {
        return E_POINTER;
    }
    *out = static_cast<Out>(value);
    return S_OK;
}

// The service's own copy of a client's server object, to be listed; only for
// callers the service lets change its configuration.
HRESULT CopyToList(IDispatch* server, KRVN::com_ptr<IQNServer>& copy) {
    if (!ConfigurationAllowed()) {
        return E_ACCESSDENIED;
    }
    return CloneServer(server, copy);
}

// The listed server's address and way, never its password.
void ReportAdded(AlarmManager& manager, IQNServer* server) {
    KRVN::unique_bstr address;
    server->get_Address(address.put());
    ULONG port = 0;
    server->get_Port(&port);
    manager.Report({EventType::Information,
                    MSG_SERVER_ADDED,
                    {EventText(address ? address.get() : L""),
                     port ? L"TCP port " + std::to_wstring(port) : std::wstring(L"RPC"),
                     DescribeCaller().AccountText()}});
}

} // namespace

QNServers::QNServers() : QNServers(AlarmManager::Instance()) {}

HRESULT QNServers::Item(VARIANT index, VARIANT* item) {
    if (!item) {
        return E_POINTER;
    }
    try {
        AlarmManager::Entry entry;
        const HRESULT result = FindEntry(m_manager.Servers(), index, entry);
        if (result != S_OK) {
            return result;
        }
        IDispatch* server = entry->GetServer().detach();
        V_VT(item) = VT_DISPATCH;
        V_DISPATCH(item) = server;
        return S_OK;
    }
    KRVN_CATCH_RETURN()
}

HRESULT QNServers::get_Count(LONG* count) {
    return GiveOut(count, m_manager.ServerCount());
}

HRESULT QNServers::Add(IDispatch* server) {
    try {
        KRVN::com_ptr<IQNServer> copy;
        KRVN_RETURN_IF_FAILED(CopyToList(server, copy));
        if (m_manager.AddServer(copy.get())) {
            ReportAdded(m_manager, copy.get());
        }
        return m_manager.SaveList();
    }
    KRVN_CATCH_RETURN()
}

HRESULT QNServers::Remove(BSTR address) {
    if (!ConfigurationAllowed()) {
        return E_ACCESSDENIED;
    }
    // Cut at the zero, the address would name another server.
    if (KRVN::HasEmbeddedZero(address)) {
        return E_INVALIDARG;
    }
    try {
        const std::wstring removed = address ? address : L"";
        if (m_manager.RemoveServer(removed)) {
            m_manager.Report({EventType::Information,
                              MSG_SERVER_REMOVED,
                              {EventText(removed), DescribeCaller().AccountText()}});
        }
        return m_manager.SaveList();
    }
    KRVN_CATCH_RETURN()
}

HRESULT QNServers::get__NewEnum(IUnknown** enumerator) {
    if (!enumerator) {
        return E_POINTER;
    }
    *enumerator = nullptr;
    try {
        const AlarmManager::Snapshot entries = m_manager.Servers();
        std::vector<KRVN::com_ptr<IDispatch>> objects;
        objects.reserve(entries.size());
        for (const auto& [key, entry] : entries) {
            objects.emplace_back(entry->GetServer());
        }
        *enumerator = ServerEnumerator::Make(objects).detach();
        return S_OK;
    }
    KRVN_CATCH_RETURN()
}

HRESULT QNServers::SendAlarm() {
    try {
        return m_manager.AlarmAll(AlarmSource::ClientCall());
    }
    KRVN_CATCH_RETURN()
}

HRESULT QNServers::TryConnect(IDispatch* server) {
    try {
        KRVN::com_ptr<IQNServer> copy;
        KRVN_RETURN_IF_FAILED(CopyToList(server, copy));
        bool listed = false;
        const std::int32_t result = m_manager.TryConnectAdd(copy.get(), &listed);
        if (listed) {
            ReportAdded(m_manager, copy.get());
        }
        if (result == 0) {
            // Only the probe is reported; a failed save is not.
            m_manager.SaveList();
        }
        return result;
    }
    KRVN_CATCH_RETURN()
}

HRESULT QNServers::RefreshState() {
    try {
        m_manager.RestartChecker();
        return S_OK;
    }
    KRVN_CATCH_RETURN()
}

HRESULT QNServers::get_State(eConnectState* state) {
    return GiveOut(state, m_manager.CurrentState());
}
