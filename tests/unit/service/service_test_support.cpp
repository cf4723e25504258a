#include "tests/unit/service/service_test_support.h"

#include <gtest/gtest.h>

#include "com/com_object.h"
#include "common/unique_handle.h"
#include "config/registry_store.h"

namespace krvn_test {

namespace {

KRVN::unique_hkey OpenAlarmKey() {
    KRVN::unique_hkey key;
    ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, KRVN::kAlarmKeyPath, 0, nullptr, 0, KEY_ALL_ACCESS,
                      nullptr, key.put(), nullptr);
    return key;
}

} // namespace

AlarmRegistry::AlarmRegistry() {
    Delete();
}

AlarmRegistry::~AlarmRegistry() {
    Delete();
}

void AlarmRegistry::Delete() {
    const LSTATUS status = ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, KRVN::kAlarmKeyPath);
    EXPECT_TRUE(status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) << status;
}

void AlarmRegistry::SetCheckDelay(DWORD seconds) {
    const KRVN::unique_hkey key = OpenAlarmKey();
    ASSERT_TRUE(key);
    ASSERT_EQ(ERROR_SUCCESS,
              ::RegSetValueExW(key.get(), L"ConnectCheckDelay", 0, REG_DWORD,
                               reinterpret_cast<const BYTE*>(&seconds), sizeof seconds));
}

void AlarmRegistry::DeleteComPort() {
    const KRVN::unique_hkey key = OpenAlarmKey();
    ::RegDeleteValueW(key.get(), L"COM");
}

std::wstring AlarmRegistry::ComPort() {
    wchar_t text[64] = {};
    DWORD size = sizeof text - sizeof(wchar_t);
    const LSTATUS status = ::RegGetValueW(HKEY_LOCAL_MACHINE, KRVN::kAlarmKeyPath, L"COM",
                                          RRF_RT_REG_SZ, nullptr, text, &size);
    return status == ERROR_SUCCESS ? std::wstring(text) : L"<none>";
}

bool AlarmRegistry::HasServerList() {
    return ::RegGetValueW(HKEY_LOCAL_MACHINE, KRVN::kAlarmKeyPath, L"ServerConfig",
                          RRF_RT_REG_BINARY, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

bool CallRecorder::WaitForCalls(size_t count, DWORD timeoutMs) const {
    std::unique_lock<std::mutex> hold(m_lock);
    return m_changed.wait_for(hold, std::chrono::milliseconds(timeoutMs),
                              [&] { return m_count >= count; });
}

size_t CallRecorder::CallCount() const {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_count;
}

void CallRecorder::Recorded(const std::function<void()>& record) {
    {
        std::lock_guard<std::mutex> hold(m_lock);
        record();
        ++m_count;
    }
    m_changed.notify_all();
}

HRESULT ChangeIconRecorder::ChangeIcon(eConnectState state, BSTR addresses) {
    std::function<void()> during;
    Recorded([&] {
        m_calls.push_back({state, addresses ? std::wstring(addresses) : L"<null>"});
        during = m_during;
    });
    if (during) {
        during();
    }
    return S_OK;
}

void ChangeIconRecorder::DuringCall(std::function<void()> handler) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_during = std::move(handler);
}

std::vector<ChangeIconCall> ChangeIconRecorder::Calls() const {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_calls;
}

HRESULT RedButtonRecorder::RedButtonPressed() {
    Recorded([] {});
    return S_OK;
}

void RecordingReporter::Report(const Event& event) {
    if (m_only.empty() || m_only.count(event.id)) {
        Recorded([&] { m_events.push_back(event); });
    }
}

std::vector<Event> RecordingReporter::Events() const {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_events;
}

KRVN::com_ptr<ChangeIconRecorder> MakeChangeIconRecorder() {
    return KRVN::com_ptr<ChangeIconRecorder>(KRVN::com::ComObject<ChangeIconRecorder>::Make());
}

KRVN::com_ptr<RedButtonRecorder> MakeRedButtonRecorder() {
    return KRVN::com_ptr<RedButtonRecorder>(KRVN::com::ComObject<RedButtonRecorder>::Make());
}

} // namespace krvn_test
