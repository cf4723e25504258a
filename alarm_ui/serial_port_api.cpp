#include "alarm_ui/serial_port_api.h"

#include "config/serial_comm_ports.h"

const SerialPortApi& SerialPortApi::System() {
    static const SerialPortApi api = {
        &::CreateFileW,   &::PurgeComm,           &::ClearCommBreak,
        &::GetCommState,  &::SetCommState,        &::SetCommMask,
        &::WaitCommEvent, &::GetOverlappedResult, &MachineSerialPorts};
    return api;
}
