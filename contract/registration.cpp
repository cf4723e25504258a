#include "contract/registration.h"

#include "contract/TolvaneLib.h"

namespace KRVN::contract {

// {D731F976-9C5E-4E8A-B8D7-9B030B4C90A7}
const GUID APPID_Tolvane = {
    0xD731F976, 0x9C5E, 0x4E8A, {0xB8, 0xD7, 0x9B, 0x03, 0x0B, 0x4C, 0x90, 0xA7}};

// Local launch, activation and calls (COM_RIGHTS_EXECUTE, _EXECUTE_LOCAL and
// _ACTIVATE_LOCAL) for SYSTEM, Administrators and interactive users: no
// network logons, no service accounts, no anonymous callers. COM wants an
// owner and a group in the descriptor.
const AppIdRegistration kAppId = {&APPID_Tolvane, L"Tolvane", L"Tolvane.EXE",
                                  L"O:BAG:BAD:(A;;0xb;;;SY)(A;;0xb;;;BA)(A;;0xb;;;IU)"};

const TypeLibRegistration kTypeLib = {&LIBID_TolvaneLib, 1, 0, 0x0409};

const ClassRegistration kQNAlarmClass = {&CLSID_QNAlarm, L"Tolvane.QNAlarm.1", L"Tolvane.QNAlarm",
                                         L"QNAlarm Class"};
const ClassRegistration kQNServerClass = {&CLSID_QNServer, L"Tolvane.QNServer.1",
                                          L"Tolvane.QNServer", L"QNServer Class"};
const ClassRegistration kQNServersClass = {&CLSID_QNServers, L"Tolvane.QNServers.1",
                                           L"Tolvane.QNServers", L"QNServers Class"};

const ServerRegistration kTolvane = {
    kAppId, kTypeLib, {&kQNAlarmClass, &kQNServerClass, &kQNServersClass}};

} // namespace KRVN::contract
