#include "alarm_ui/serial_port_api.h"

const SerialPortApi& SerialPortApi::System() {
    static const SerialPortApi api = {&::CreateFileW, &::PurgeComm,     &::ClearCommBreak,
                                      &::SetCommMask, &::WaitCommEvent, &::GetOverlappedResult};
    return api;
}
