#pragma once
// The registry data of the contract: the AppID, the type library and the
// three classes, as the COM layer's Registrar writes and removes them under
// HKEY_CLASSES_ROOT.

#include <windows.h>

#include <array>

namespace KRVN::contract {

struct AppIdRegistration {
    const GUID* appId;
    const wchar_t* name;    // default value of AppID\{appId}
    const wchar_t* exeName; // AppID\<exeName> names the AppID of the program
    // Who may launch the server and call it, as SDDL: written as the AppID's
    // LaunchPermission and AccessPermission, and the process's own COM
    // security.
    const wchar_t* permissions;
};

struct TypeLibRegistration {
    const GUID* libId;
    WORD major;
    WORD minor;
    LCID lcid;
};

struct ClassRegistration {
    const CLSID* clsid;
    const wchar_t* progId;
    const wchar_t* versionIndependentProgId;
    const wchar_t* description;
};

struct ServerRegistration {
    const AppIdRegistration& appId;
    const TypeLibRegistration& typeLib;
    std::array<const ClassRegistration*, 3> classes;
};

extern const GUID APPID_Tolvane;

extern const AppIdRegistration kAppId;
extern const TypeLibRegistration kTypeLib;
extern const ClassRegistration kQNAlarmClass;
extern const ClassRegistration kQNServerClass;
extern const ClassRegistration kQNServersClass;
// Everything the Tolvane program registers.
extern const ServerRegistration kTolvane;

} // namespace KRVN::contract
