#include "ui_driver.h"

#include <commctrl.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <memory>
#include <type_traits>
#include <vector>

#include "window/device_context.h"
#include "tests/support/wait.h"

namespace ui {

namespace {

struct Search {
    std::wstring caption;
    std::vector<HWND> found;
};

BOOL CALLBACK Collect(HWND window, LPARAM context) {
    auto& search = *reinterpret_cast<Search*>(context);
    wchar_t name[64] = {};
    ::GetClassNameW(window, name, 64);
    if (::IsWindowVisible(window) && std::wstring(name) == L"#32770") {
        wchar_t caption[256] = {};
        ::InternalGetWindowText(window, caption, 256);
        if (search.caption == caption) {
            search.found.push_back(window);
        }
    }
    return TRUE;
}

} // namespace

std::wstring WindowsPath(const char* path) {
    std::wstring result = L"Z:";
    for (const char* c = path; *c; ++c) {
        result += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
    }
    return result;
}

std::vector<HWND> Dialogs(DWORD thread, const std::wstring& caption) {
    Search search{caption, {}};
    ::EnumThreadWindows(thread, &Collect, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs) {
    return krvn_test::WaitUntil(condition, timeoutMs);
}

HWND WaitForDialog(DWORD thread, const std::wstring& caption, int marker, DWORD timeoutMs) {
    HWND result = nullptr;
    WaitFor(
        [&] {
            for (HWND dialog : Dialogs(thread, caption)) {
                if ((::GetDlgItem(dialog, std::abs(marker)) != nullptr) == (marker > 0)) {
                    result = dialog;
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
    return result;
}

HWND WaitForMessageBox(DWORD thread, DWORD timeoutMs) {
    return WaitForDialog(thread, L"Quendor Alarm", -1000, timeoutMs);
}

bool WaitUntilGone(HWND window) {
    return WaitFor([&] { return !::IsWindow(window) || !::IsWindowVisible(window); });
}

std::wstring MessageBoxText(HWND box) {
    std::wstring longest;
    for (HWND child = ::GetWindow(box, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        wchar_t name[32] = {};
        ::GetClassNameW(child, name, 32);
        wchar_t text[1024] = {};
        ::GetWindowTextW(child, text, 1024);
        if (std::wstring(name) == L"Static" && std::wstring(text).size() > longest.size()) {
            longest = text;
        }
    }
    return longest;
}

std::wstring Text(HWND dialog, int id) {
    wchar_t text[1024] = {};
    ::GetDlgItemTextW(dialog, id, text, 1024);
    return text;
}

void SetText(HWND dialog, int id, const std::wstring& text) {
    ::SetDlgItemTextW(dialog, id, text.c_str());
}

void Click(HWND dialog, int id) {
    ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(dialog, id)));
}

std::wstring Answer(DWORD thread, int button) {
    const HWND box = WaitForMessageBox(thread);
    if (!box) {
        return L"<no message box>";
    }
    const std::wstring text = MessageBoxText(box);
    ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
    WaitUntilGone(box);
    return text;
}

HWND FocusOf(DWORD thread) {
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    return ::GetGUIThreadInfo(thread, &info) ? info.hwndFocus : nullptr;
}

std::wstring ListText(HWND list, int row, int column) {
    wchar_t text[512] = {};
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = 512;
    ::SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row),
                   reinterpret_cast<LPARAM>(&item));
    return text;
}

int ListImage(HWND list, int row) {
    LVITEMW item = {};
    item.mask = LVIF_IMAGE;
    item.iItem = row;
    ::SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    return item.iImage;
}

int ListSelection(HWND list) {
    return static_cast<int>(
        ::SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

int ListCount(HWND list) {
    return static_cast<int>(::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
}

std::vector<std::wstring> ListBoxLines(HWND list) {
    std::vector<std::wstring> lines;
    const auto count = ::SendMessageW(list, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        wchar_t text[512] = {};
        ::SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
        lines.push_back(text);
    }
    return lines;
}

void SaveScreenshot(HWND window, const std::wstring& name) {
    const char* folder = std::getenv("KRVN_TEST_OUTPUT");
    if (!folder) {
        return;
    }
    struct DeleteDc {
        void operator()(HDC dc) const { ::DeleteDC(dc); }
    };
    struct DeleteObject {
        void operator()(HBITMAP bitmap) const { ::DeleteObject(bitmap); }
    };
    struct CloseFile {
        void operator()(FILE* file) const { std::fclose(file); }
    };
    RECT rect = {};
    ::GetWindowRect(window, &rect);
    const LONG width = rect.right - rect.left;
    const LONG height = rect.bottom - rect.top;
    const KRVN::CClientDC screen(nullptr);
    const std::unique_ptr<std::remove_pointer_t<HDC>, DeleteDc> memory(
        ::CreateCompatibleDC(screen.get()));
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    const std::unique_ptr<std::remove_pointer_t<HBITMAP>, DeleteObject> bitmap(
        ::CreateDIBSection(memory.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bitmap) {
        return;
    }
    {
        const KRVN::CSelectObject selected(memory.get(), bitmap.get());
        ::BitBlt(memory.get(), 0, 0, width, height, screen.get(), rect.left, rect.top, SRCCOPY);
    }
    const DWORD size = ((static_cast<DWORD>(width) * 3 + 3) / 4) * 4 * static_cast<DWORD>(height);
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    file.bfSize = file.bfOffBits + size;
    const std::unique_ptr<FILE, CloseFile> out(
        ::_wfopen((WindowsPath(folder) + L"\\" + name + L".bmp").c_str(), L"wb"));
    if (out) {
        std::fwrite(&file, sizeof(file), 1, out.get());
        std::fwrite(&info.bmiHeader, sizeof(info.bmiHeader), 1, out.get());
        std::fwrite(bits, size, 1, out.get());
    }
}

void RunModal(const std::function<void(DWORD thread)>& script, const std::function<void()>& modal) {
    const DWORD thread = ::GetCurrentThreadId();
    std::atomic<bool> done{false};
    std::thread helper([&] {
        script(thread);
        // Grace for what the script ended itself, then cancel the rest.
        WaitFor([&] { return done.load(); }, 3000);
        const int buttons[] = {IDCANCEL, IDNO, IDOK};
        for (int round = 0; !done && round < 30; ++round) {
            EnumThreadWindows(
                thread,
                [](HWND window, LPARAM button) {
                    ::PostMessageW(window, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
                    return TRUE;
                },
                buttons[round % 3]);
            WaitFor([&] { return done.load(); }, 300);
        }
    });
    modal();
    done = true;
    helper.join();
}

} // namespace ui
