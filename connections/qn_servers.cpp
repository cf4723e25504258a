#include "connections/qn_servers.h"

#include <vector>

#include "com/com_ptr.h"
#include "com/result.h"
#include "connections/address_less.h"
#include "connections/clone_server.h"
#include "connections/server_enumerator.h"
#include "service/alarm_manager.h"

namespace {

// The entry at a position in list order or with an equal address.
HRESULT FindEntry(const AlarmManager::Snapshot& entries, const VARIANT& index,
                  AlarmManager::Entry& found) {
    LONG position = 0;
    switch (V_VT(&index)) {
    case VT_I4:
        position = V_I4(&index);
        break;
    case VT_I2:
        position = V_I2(&index);
        break;
    case VT_BSTR: {
        const std::wstring address = V_BSTR(&index) ? V_BSTR(&index) : L"";
        const AddressLess less;
        for (const auto& [key, entry] : entries) {
            if (!less(key, address) && !less(address, key)) {
                found = entry;
                return S_OK;
            }
        }
        return AlarmManager::kNotListed;
    }
    default:
        return E_INVALIDARG;
    }
    if (position < 0 || static_cast<size_t>(position) >= entries.size()) {
        return E_INVALIDARG;
    }
    found = entries[static_cast<size_t>(position)].second;
    return S_OK;
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
    if (!count) {
        return E_POINTER;
    }
    *count = static_cast<LONG>(m_manager.ServerCount());
    return S_OK;
}

HRESULT QNServers::Add(IDispatch* server) {
    try {
        KRVN::com_ptr<IQNServer> copy;
        KRVN_RETURN_IF_FAILED(CloneServer(server, copy));
        m_manager.AddServer(copy.get());
        return m_manager.SaveList();
    }
    KRVN_CATCH_RETURN()
}

HRESULT QNServers::Remove(BSTR address) {
    try {
        m_manager.RemoveServer(address ? address : L"");
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
        return m_manager.AlarmAll();
    }
    KRVN_CATCH_RETURN()
}

HRESULT QNServers::TryConnect(IDispatch* server) {
    try {
        KRVN::com_ptr<IQNServer> copy;
        KRVN_RETURN_IF_FAILED(CloneServer(server, copy));
        const std::int32_t result = m_manager.TryConnectAdd(copy.get());
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
    if (!state) {
        return E_POINTER;
    }
    *state = static_cast<eConnectState>(m_manager.CurrentState());
    return S_OK;
}
