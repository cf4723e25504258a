#include "service/interactive_station.h"

namespace {

class SystemWindowStationCalls : public WindowStationCalls {
public:
    HWINSTA ProcessWindowStation() override { return ::GetProcessWindowStation(); }

    bool ObjectInformation(HANDLE object, int index, void* info, DWORD length,
                           DWORD* needed) override {
        return ::GetUserObjectInformationW(object, index, info, length, needed) != FALSE;
    }
};

} // namespace

bool IsInteractiveWindowStation(WindowStationCalls& calls) {
    const HWINSTA station = calls.ProcessWindowStation();
    if (station == nullptr) {
        return false;
    }
    USEROBJECTFLAGS flags{};
    DWORD needed = 0;
    if (!calls.ObjectInformation(station, UOI_FLAGS, &flags, sizeof flags, &needed)) {
        return false;
    }
    return (flags.dwFlags & WSF_VISIBLE) != 0;
}

bool IsInteractiveWindowStation() {
    SystemWindowStationCalls calls;
    return IsInteractiveWindowStation(calls);
}
