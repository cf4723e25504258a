#include "contract/registration.h"

#include "contract/TolvaneLib.h"

namespace KRVN::contract {

// {D731F976-9C5E-4E8A-B8D7-9B030B4C90A7}
const GUID APPID_Tolvane = {
    0xD731F976, 0x9C5E, 0x4E8A, {0xB8, 0xD7, 0x9B, 0x03, 0x0B, 0x4C, 0x90, 0xA7}};

const AppIdRegistration kAppId = {&APPID_Tolvane, L"Tolvane", L"Tolvane.EXE"};

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
