#include "tests/chaos/step.h"

#include "tests/chaos/fleet_layout.h"

namespace krvn_chaos {

std::string StepName(StepKind kind) {
    switch (kind) {
    case StepKind::Press:
        return "press";
    case StepKind::SendAlarm:
        return "send-alarm";
    case StepKind::SendAlarmToOne:
        return "send-alarm-one";
    case StepKind::Remove:
        return "remove";
    case StepKind::Add:
        return "add";
    case StepKind::TryConnect:
        return "try-connect";
    case StepKind::RefreshState:
        return "refresh-state";
    case StepKind::Fault:
        return "fault";
    case StepKind::Clear:
        return "clear";
    case StepKind::Restart:
        return "restart";
    case StepKind::Unplug:
        return "unplug";
    case StepKind::PlugIn:
        return "plug-in";
    case StepKind::StartClient:
        return "start-client";
    case StepKind::EndClient:
        return "end-client";
    }
    return "?";
}

std::string Describe(const Step& step) {
    std::string text = "step " + std::to_string(step.number) + " " + StepName(step.kind);
    switch (step.kind) {
    case StepKind::SendAlarmToOne:
        text +=
            " " + Name(step.server) + (step.listedObject ? " (listed object)" : " (new object)");
        break;
    case StepKind::Remove:
    case StepKind::Add:
    case StepKind::TryConnect:
        text += " " + Name(step.server);
        break;
    case StepKind::Fault:
        text += " " + TargetName(step.server) + " " + ModeName(step.mode);
        if (step.mode == ServerMode::Slow) {
            text += " " + std::to_string(step.parameterMs) + " ms";
        }
        break;
    case StepKind::Clear:
    case StepKind::Restart:
        text += " " + TargetName(step.server);
        break;
    case StepKind::StartClient:
        text += " client " + std::to_string(step.client) + " icon=" + IconModeName(step.icon) +
                " button=" + ButtonModeName(step.button);
        break;
    case StepKind::EndClient:
        text += " client " + std::to_string(step.client) + (step.kill ? " killed" : " asked");
        break;
    default:
        break;
    }
    return text;
}

} // namespace krvn_chaos
