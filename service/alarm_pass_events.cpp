#include "service/alarm_pass_events.h"

#include "service/alarm_manager.h"
#include "service/event_text.h"
#include "service/system_error_text.h"

namespace {

const wchar_t* TransportName(AlarmTransport transport) {
    switch (transport) {
    case AlarmTransport::Tcp:
        return L"TCP";
    case AlarmTransport::Rpc:
        return L"RPC";
    default:
        return L"TCP, then RPC";
    }
}

Event StartEvent(const AlarmPassRecord& pass) {
    const std::wstring count = std::to_wstring(pass.orders.size());
    if (pass.source.kind == AlarmSource::Kind::Button) {
        return {EventType::Warning,
                MSG_ALARM_BY_BUTTON,
                {pass.number, EventText(pass.source.port), count}};
    }
    const ClientCaller& caller = pass.caller;
    return {EventType::Warning,
            caller.IsTrayProgram() ? MSG_ALARM_BY_TRAY : MSG_ALARM_BY_PROGRAM,
            {pass.number, caller.AccountText(),
             caller.program.empty() ? L"an unknown program" : caller.program,
             caller.processId ? std::to_wstring(caller.processId) : L"unknown", count}};
}

Event OrderEvent(const std::wstring& pass, const OrderOutcome& order) {
    if (!order.done) {
        return {EventType::Error,
                MSG_ALARM_ORDER_STILL_BUSY,
                {pass, EventText(order.address), std::to_wstring(AlarmManager::kAlarmPassBoundMs)}};
    }
    std::vector<std::wstring> inserts{pass, EventText(order.address),
                                      TransportName(order.transport),
                                      std::to_wstring(order.elapsedMs)};
    if (order.code == 0) {
        return {EventType::Information, MSG_ALARM_ORDER_SENT, std::move(inserts)};
    }
    inserts.push_back(std::to_wstring(order.code));
    inserts.push_back(SystemErrorText(static_cast<DWORD>(order.code)));
    return {EventType::Error, MSG_ALARM_ORDER_FAILED, std::move(inserts)};
}

} // namespace

void ReportAlarmPass(EventReporter& reporter, const AlarmPassRecord& pass) {
    reporter.Report(StartEvent(pass));
    size_t sent = 0;
    for (const OrderOutcome& order : pass.orders) {
        sent += order.done && order.code == 0;
        reporter.Report(OrderEvent(pass.number, order));
    }
    const size_t failures = pass.orders.size() - sent;
    reporter.Report({failures ? EventType::Error : EventType::Information,
                     MSG_ALARM_FINISHED,
                     {pass.number, std::to_wstring(sent), std::to_wstring(failures),
                      std::to_wstring(pass.totalMs)}});
}
