// A tray-style client of the service, in a process of its own so that the
// campaign can kill it while it is advised: QNAlarm with a change-icon sink
// and, when asked, a red-button sink, each behaving as its mode says
// (tray_client_mode.h). Every callback and every call it makes to the
// service goes to its log, one line each: "<UTC ms> <event> [key=value ...]".
//
// chaos_tray_client LOG READY_EVENT QUIT_EVENT ICON_MODE BUTTON_MODE REMOVE_ADDRESS
//
// It sets READY_EVENT once its sinks are advised. Once QUIT_EVENT is set it
// lets go of its sinks (Unadvise for a red-button sink, UnadviseChangeIcon)
// and ends; it ends by itself after an hour, should nobody ask.

#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>

#include "com/bstr.h"
#include "com/com_object.h"
#include "com/com_ptr.h"
#include "com/interface_map.h"
#include "com/unique_couninitialize.h"
#include "common/unique_handle.h"
#include "contract/TolvaneLib.h"
#include "tests/chaos/tray_client_mode.h"

namespace {

using krvn_chaos::ButtonMode;
using krvn_chaos::IconMode;

constexpr DWORD kLifetimeMs = 3600 * 1000;

long long UtcMs() {
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    return static_cast<long long>(ULARGE_INTEGER{{now.dwLowDateTime, now.dwHighDateTime}}.QuadPart /
                                  10000);
}

class ClientLog {
public:
    explicit ClientLog(const wchar_t* path)
        : m_file(::CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)) {}

    explicit operator bool() const { return static_cast<bool>(m_file); }

    void Write(const std::string& event) {
        const std::string line = std::to_string(UtcMs()) + " " + event + "\n";
        std::lock_guard<std::mutex> hold(m_lock);
        DWORD written = 0;
        ::WriteFile(m_file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    }

    // A call into the service, written before and after: one that never
    // returns shows as a "call" line without its "returned".
    template <typename Action> HRESULT Call(const char* name, Action call) {
        Write(std::string("call proc=") + name);
        const ULONGLONG started = ::GetTickCount64();
        const HRESULT hr = call();
        char text[96];
        std::snprintf(text, sizeof text, "returned proc=%s hr=0x%08lx ms=%llu", name,
                      static_cast<unsigned long>(hr), ::GetTickCount64() - started);
        Write(text);
        return hr;
    }

private:
    std::mutex m_lock;
    KRVN::unique_hfile m_file;
};

// What a callback that never returns waits for: the end of the process.
class Context {
public:
    Context(ClientLog& log, HANDLE quit) : log(log), quit(quit) {}

    void HangUntilTheEnd(const char* where) {
        log.Write(std::string("hang in=") + where);
        ::WaitForSingleObject(quit, kLifetimeMs);
    }

    ClientLog& log;
    const HANDLE quit;
};

class IconSink : public IChangeIconEvents {
public:
    using Interfaces = KRVN::com::InterfaceMap<KRVN::com::Entry<IChangeIconEvents>>;

    IconSink(Context& context, IconMode mode, KRVN::com_ptr<IQNServers> servers,
             std::wstring removed)
        : m_context(context), m_mode(mode), m_servers(std::move(servers)),
          m_removed(std::move(removed)) {}

    HRESULT STDMETHODCALLTYPE ChangeIcon(eConnectState state, BSTR addresses) override {
        size_t lost = 0;
        for (const wchar_t* at = addresses; at && *at; ++at) {
            lost += *at == L'\n';
        }
        m_context.log.Write("change-icon state=" + std::to_string(state) +
                            " lost=" + std::to_string(lost));
        // Only the first call calls back: a client that refreshed at every
        // report would make the next report itself.
        const bool first = m_calls++ == 0;
        switch (m_mode) {
        case IconMode::Hang:
            m_context.HangUntilTheEnd("ChangeIcon");
            break;
        case IconMode::Refresh:
            if (first) {
                m_context.log.Call("RefreshState", [this] { return m_servers->RefreshState(); });
            }
            break;
        case IconMode::Remove:
            if (first) {
                m_context.log.Call("Remove", [this] {
                    const KRVN::unique_bstr address(m_removed.c_str());
                    return m_servers->Remove(address.get());
                });
            }
            break;
        case IconMode::Record:
            break;
        }
        return S_OK;
    }

private:
    Context& m_context;
    const IconMode m_mode;
    const KRVN::com_ptr<IQNServers> m_servers;
    const std::wstring m_removed;
    std::atomic<long> m_calls{0};
};

class ButtonSink : public IRedButtonEvents {
public:
    using Interfaces = KRVN::com::InterfaceMap<KRVN::com::Entry<IRedButtonEvents>>;

    ButtonSink(Context& context, ButtonMode mode) : m_context(context), m_mode(mode) {}

    HRESULT STDMETHODCALLTYPE RedButtonPressed() override {
        m_context.log.Write("pressed");
        if (m_mode == ButtonMode::Hang) {
            m_context.HangUntilTheEnd("RedButtonPressed");
        }
        return S_OK;
    }

private:
    Context& m_context;
    const ButtonMode m_mode;
};

std::string Narrow(const wchar_t* text) {
    std::string narrow;
    for (; *text; ++text) {
        narrow += static_cast<char>(*text);
    }
    return narrow;
}

template <typename I> HRESULT CreateInService(const CLSID& clsid, KRVN::com_ptr<I>& object) {
    return ::CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, __uuidof(I), object.put_void());
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    IconMode icon = IconMode::Record;
    ButtonMode button = ButtonMode::None;
    if (argc != 7 || !krvn_chaos::ParseIconMode(Narrow(argv[4]).c_str(), icon) ||
        !krvn_chaos::ParseButtonMode(Narrow(argv[5]).c_str(), button)) {
        return 2;
    }
    ClientLog log(argv[1]);
    const KRVN::unique_handle ready(::OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[2]));
    const KRVN::unique_handle quit(::OpenEventW(SYNCHRONIZE, FALSE, argv[3]));
    if (!log || !ready || !quit) {
        return 2;
    }
    const KRVN::unique_couninitialize apartment(COINIT_MULTITHREADED);
    // As the desktop program: the service calls the sinks back.
    ::CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_NONE,
                           RPC_C_IMP_LEVEL_DELEGATE, nullptr, EOAC_NONE, nullptr);
    KRVN::com_ptr<IEstablishCommunications> communications;
    KRVN::com_ptr<IQNServers> servers;
    if (FAILED(CreateInService(CLSID_QNAlarm, communications)) ||
        FAILED(CreateInService(CLSID_QNServers, servers))) {
        log.Write("failed step=CoCreateInstance");
        return 3;
    }
    Context context(log, quit.get());
    const auto icons = KRVN::com::ComObject<IconSink>::Make(context, icon, servers, argv[6]);
    const auto presses = KRVN::com::ComObject<ButtonSink>::Make(context, button);
    log.Call("AdviseChangeIcon", [&] { return communications->AdviseChangeIcon(icons.get()); });
    if (button != ButtonMode::None) {
        log.Call("Advise", [&] { return communications->Advise(presses.get()); });
        const LONG forward = button == ButtonMode::Ignore ? 0 : 1;
        log.Call("SetSendRedButtonCallback",
                 [&] { return communications->SetSendRedButtonCallback(forward); });
    }
    log.Write("ready");
    ::SetEvent(ready.get());

    ::WaitForSingleObject(quit.get(), kLifetimeMs);
    log.Write("quit");
    if (button != ButtonMode::None) {
        log.Call("Unadvise", [&] { return communications->Unadvise(); });
    }
    log.Call("UnadviseChangeIcon", [&] { return communications->UnadviseChangeIcon(); });
    log.Write("end");
    return 0;
}
