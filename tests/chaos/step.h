#pragma once
// One step of the campaign's schedule: a press of the red button, a
// client's call, a list edit, a fault injected or cleared, a tray-style
// client started or ended.

#include <windows.h>

#include <string>

#include "tests/chaos/server_mode.h"
#include "tests/chaos/tray_client_mode.h"

namespace krvn_chaos {

enum class StepKind {
    Press,          // one change of the button's line
    SendAlarm,      // QNServers.SendAlarm
    SendAlarmToOne, // QNServer.SendAlarm of one server
    Remove,         // a server taken off the list
    Add,            // a server listed without a probe
    TryConnect,     // a server listed if its probe succeeds
    RefreshState,   // the checker restarted
    Fault,          // a server process (or the RPC process) put into a fault mode
    Clear,          // a faulty server made normal again
    Restart,        // a normal server killed and started again on its address and port
    Unplug,         // the button's adapter pulled out
    PlugIn,         // and put back
    StartClient,    // a tray-style client started and advised
    EndClient,      // asked to let go and end, or killed
};

struct Step {
    unsigned number = 0; // from 1
    StepKind kind = StepKind::Press;
    // A slot (0..kServers-1) for server and list steps; a fault target
    // (a TCP slot or kRpcProcess) for Fault, Clear and Restart.
    int server = -1;
    ServerMode mode = ServerMode::Normal;
    int parameterMs = 0; // Slow's reply delay
    // SendAlarmToOne: through the listed object itself (Item) rather than a
    // new object with the server's settings.
    bool listedObject = false;
    int client = -1; // StartClient, EndClient
    IconMode icon = IconMode::Record;
    ButtonMode button = ButtonMode::None;
    bool kill = false; // EndClient: killed rather than asked
    DWORD pauseMs = 0; // before the step
};

std::string StepName(StepKind kind);
// The step in one line, for the log and for violations.
std::string Describe(const Step& step);

} // namespace krvn_chaos
