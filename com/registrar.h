#pragma once
// Writes and removes the registry entries that make a server's classes
// creatable (AppID, ProgIDs, CLSID keys, type library) under
// HKEY_CLASSES_ROOT. Removing something that is already gone is not a
// failure. Every function returns the first failing HRESULT, else S_OK.

#include <windows.h>
#include <objbase.h>

#include <string>

#include "contract/registration.h"

namespace KRVN::com {

class Registrar {
public:
    explicit Registrar(const contract::ServerRegistration& server = contract::kTolvane) noexcept
        : m_server(server) {}

    // AppID\{AppID} with the server's name, and AppID\<exe name> naming it.
    HRESULT RegisterAppId() const noexcept;
    // Removes both keys, LocalService included; the AppID root key stays.
    HRESULT UnregisterAppId() const noexcept;

    // The AppID's LocalService value: present while the program is
    // installed as a service, which makes COM start it through the service
    // manager. GetLocalService gives S_FALSE (and an empty name) when absent.
    HRESULT SetLocalService(const std::wstring& serviceName) const noexcept;
    HRESULT DeleteLocalService() const noexcept;
    HRESULT GetLocalService(std::wstring& serviceName) const noexcept;

    // The ProgID, version-independent ProgID and CLSID keys of every class,
    // served by the program at modulePath; each CLSID key is replaced whole.
    HRESULT RegisterClasses(const std::wstring& modulePath) const noexcept;
    // Removes them, going on past failures; the CLSID root key stays.
    HRESULT UnregisterClasses() const noexcept;

    // The type library embedded in the program at modulePath as resource 1,
    // registered for its locale and also for the neutral one (the only one
    // Wine's type-library marshaller looks under).
    HRESULT RegisterTypeLib(const std::wstring& modulePath) const noexcept;
    HRESULT UnregisterTypeLib() const noexcept;

    // Classes and type library together.
    HRESULT RegisterServer(const std::wstring& modulePath) const noexcept;
    HRESULT UnregisterServer() const noexcept;

    // Full path of the running program; raises CAException on failure.
    static std::wstring ModulePath();

private:
    const contract::ServerRegistration& m_server;
};

} // namespace KRVN::com
