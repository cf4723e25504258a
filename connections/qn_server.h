#pragma once
// The QNServer COM object: the description of one disk server (address,
// password, port, state code of the last probe). Free threaded: clients,
// the connection checker and alarm threads read and write its properties at
// the same time; strings are copied in and out under a small lock, so no
// reader ever sees a freed string. It may be aggregated.
//
// The objects of the service's list are handed out to clients as they are
// (Item, _NewEnum). The list is keyed by Address, so a listed object's
// Address is fixed: a client renames a server by removing and adding it.

#include <windows.h>

#include <atomic>
#include <mutex>

#include "com/bstr.h"
#include "com/class_factory.h"
#include "com/dispatch_impl.h"
#include "com/interface_map.h"
#include "contract/TolvaneLib.h"

// How the alarm manager marks the server objects it lists. In-process only:
// no proxy exists for it, so clients cannot reach it.
struct IListedServer : public IUnknown {
    virtual void STDMETHODCALLTYPE SetListed(bool listed) noexcept = 0;
};
__CRT_UUID_DECL(IListedServer, 0x7f49abbf, 0x866c, 0x4089, 0x8b, 0x31, 0xc6, 0xa6, 0xbf, 0x19, 0xa5,
                0x4d)

class QNServer : public KRVN::com::DispatchImpl<IQNServer>, public IListedServer {
public:
    using Interfaces =
        KRVN::com::InterfaceMap<KRVN::com::Entry<IQNServer>, KRVN::com::Entry<IDispatch, IQNServer>,
                                KRVN::com::Entry<IListedServer>>;
    static constexpr KRVN::com::Aggregation kAggregation = KRVN::com::Aggregation::Allowed;
    // put_Address's refusal of a new address while the object is listed.
    static constexpr HRESULT kAddressOfListedServer = E_ACCESSDENIED;

    // Strings: a copy of what is stored (null when unset). A put stores a
    // copy; null clears; putting back the stored string itself changes
    // nothing. A string with a zero character before its end is refused
    // with E_INVALIDARG, and so is an Address put through COM from another
    // process (a client, or the service's copy of a client's object in Add
    // and TryConnect) that server_address_rule.h does not allow: a control
    // character, more than 255 characters. While
    // listed, only the stored text is accepted as the Address, and only
    // callers the service lets change its configuration may put anything
    // (others get E_ACCESSDENIED); those it keeps out read every Password as
    // empty. A replaced or released password is wiped.
    HRESULT STDMETHODCALLTYPE get_Address(BSTR* value) override;
    HRESULT STDMETHODCALLTYPE put_Address(BSTR value) override;
    HRESULT STDMETHODCALLTYPE get_Password(BSTR* value) override;
    HRESULT STDMETHODCALLTYPE put_Password(BSTR value) override;
    // Numbers are stored as given, without a range check. A listed server's
    // StateCode is written by the service alone: a put that comes through
    // COM from another process gets E_ACCESSDENIED.
    HRESULT STDMETHODCALLTYPE get_Port(ULONG* value) override;
    HRESULT STDMETHODCALLTYPE put_Port(ULONG value) override;
    HRESULT STDMETHODCALLTYPE get_StateCode(LONG* value) override;
    HRESULT STDMETHODCALLTYPE put_StateCode(LONG value) override;
    HRESULT STDMETHODCALLTYPE SendAlarm() override;

    void STDMETHODCALLTYPE SetListed(bool listed) noexcept override;

protected:
    QNServer() = default;
    ~QNServer();

private:
    // A listed server's settings are configuration: the service's gate
    // decides who may change them.
    bool MayChange() const;
    HRESULT GetString(const KRVN::unique_bstr& slot, BSTR* value);
    // fixed: only the stored text may be put back.
    HRESULT PutString(KRVN::unique_bstr& slot, BSTR value, bool fixed);

    std::mutex m_stringLock;
    KRVN::unique_bstr m_address;
    KRVN::unique_bstr m_password;
    std::atomic<ULONG> m_port{0};
    std::atomic<LONG> m_stateCode{-1};
    std::atomic<bool> m_listed{false};
};
