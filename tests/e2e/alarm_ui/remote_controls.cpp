#include "tests/e2e/alarm_ui/remote_controls.h"

#include <commctrl.h>

#include "common/unique_handle.h"

namespace krvn_e2e {

namespace {

constexpr size_t kTextChars = 1024;

// A block of memory in the process that owns a window, freed with it.
class RemoteMemory {
public:
    RemoteMemory(HWND window, size_t size) {
        DWORD processId = 0;
        ::GetWindowThreadProcessId(window, &processId);
        m_process.reset(::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE,
                                      FALSE, processId));
        if (m_process) {
            m_address = ::VirtualAllocEx(m_process.get(), nullptr, size, MEM_COMMIT | MEM_RESERVE,
                                         PAGE_READWRITE);
        }
    }
    ~RemoteMemory() {
        if (m_address) {
            ::VirtualFreeEx(m_process.get(), m_address, 0, MEM_RELEASE);
        }
    }
    RemoteMemory(const RemoteMemory&) = delete;
    RemoteMemory& operator=(const RemoteMemory&) = delete;

    explicit operator bool() const noexcept { return m_address != nullptr; }
    char* At(size_t offset) const { return static_cast<char*>(m_address) + offset; }

    bool Write(size_t offset, const void* data, size_t size) const {
        return ::WriteProcessMemory(m_process.get(), At(offset), data, size, nullptr) != FALSE;
    }
    bool Read(size_t offset, void* data, size_t size) const {
        return ::ReadProcessMemory(m_process.get(), At(offset), data, size, nullptr) != FALSE;
    }
    std::wstring ReadText(size_t offset) const {
        std::wstring text(kTextChars, L'\0');
        if (!Read(offset, text.data(), kTextChars * sizeof(wchar_t))) {
            return L"<unreadable>";
        }
        text.resize(text.find(L'\0'));
        return text;
    }

private:
    KRVN::unique_handle m_process;
    void* m_address = nullptr;
};

// Layout of the blocks: the structure first, then a text buffer.
constexpr size_t kTextOffset = 256;
constexpr size_t kBlockSize = kTextOffset + kTextChars * sizeof(wchar_t);

BOOL CALLBACK CollectBalloon(HWND window, LPARAM context) {
    wchar_t name[64] = {};
    ::GetClassNameW(window, name, 64);
    if (std::wstring(name) != TOOLTIPS_CLASSW || !::IsWindowVisible(window) ||
        !(::GetWindowLongW(window, GWL_STYLE) & TTS_BALLOON)) {
        return TRUE;
    }
    const RemoteMemory block(window, kBlockSize);
    TTTOOLINFOW tool = {};
    tool.cbSize = sizeof(tool);
    tool.lpszText = reinterpret_cast<wchar_t*>(block.At(kTextOffset));
    if (block && block.Write(0, &tool, sizeof(tool)) &&
        ::SendMessageW(window, TTM_ENUMTOOLSW, 0, reinterpret_cast<LPARAM>(block.At(0)))) {
        reinterpret_cast<std::vector<std::wstring>*>(context)->push_back(
            block.ReadText(kTextOffset));
    }
    return TRUE;
}
} // namespace

std::wstring RemoteListText(HWND list, int row, int column) {
    const RemoteMemory block(list, kBlockSize);
    if (!block) {
        return L"<no memory>";
    }
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = reinterpret_cast<wchar_t*>(block.At(kTextOffset));
    item.cchTextMax = kTextChars;
    if (!block.Write(0, &item, sizeof(item))) {
        return L"<unwritable>";
    }
    ::SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row),
                   reinterpret_cast<LPARAM>(block.At(0)));
    return block.ReadText(kTextOffset);
}

bool RemoteListSelect(HWND list, int row) {
    const RemoteMemory block(list, kBlockSize);
    LVITEMW item = {};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    return block && block.Write(0, &item, sizeof(item)) &&
           ::SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row),
                          reinterpret_cast<LPARAM>(block.At(0))) != FALSE;
}

int RemoteListCount(HWND list) {
    return static_cast<int>(::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
}

std::vector<std::wstring> VisibleBalloons() {
    std::vector<std::wstring> balloons;
    ::EnumWindows(&CollectBalloon, reinterpret_cast<LPARAM>(&balloons));
    return balloons;
}

} // namespace krvn_e2e
