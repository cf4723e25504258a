#include "tests/e2e/alarm_ui/screen_icon.h"

#include <cstdint>
#include <memory>
#include <type_traits>
#include <vector>

#include "window/device_context.h"

namespace krvn_e2e {

namespace {

constexpr int kIconSize = 16;

struct FreeLibrary {
    void operator()(HMODULE module) const { ::FreeLibrary(module); }
};
struct DestroyIcon {
    void operator()(HICON icon) const { ::DestroyIcon(icon); }
};
struct DeleteDc {
    void operator()(HDC dc) const { ::DeleteDC(dc); }
};
struct DeleteBrush {
    void operator()(HBRUSH brush) const { ::DeleteObject(brush); }
};
struct DeleteBitmap {
    void operator()(HBITMAP bitmap) const { ::DeleteObject(bitmap); }
};
using unique_hdc = std::unique_ptr<std::remove_pointer_t<HDC>, DeleteDc>;
using unique_hbitmap = std::unique_ptr<std::remove_pointer_t<HBITMAP>, DeleteBitmap>;

// Top-down 32-bit pixels of a width x height area.
struct Pixels {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> data;

    std::uint32_t At(int x, int y) const {
        return data[static_cast<size_t>(y) * width + x] & 0xFFFFFFu;
    }
};

// Draws into a 32-bit DIB section, then copies the pixels out.
template <typename Paint> Pixels Capture(int width, int height, Paint paint) {
    Pixels pixels{width, height, {}};
    const KRVN::CClientDC screen(nullptr);
    const unique_hdc memory(::CreateCompatibleDC(screen.get()));
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    const unique_hbitmap bitmap(
        ::CreateDIBSection(memory.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bitmap) {
        return pixels;
    }
    {
        const KRVN::CSelectObject selected(memory.get(), bitmap.get());
        paint(memory.get(), screen.get());
        ::GdiFlush();
    }
    const auto* first = static_cast<const std::uint32_t*>(bits);
    pixels.data.assign(first, first + static_cast<size_t>(width) * height);
    return pixels;
}

Pixels DrawIcon(HICON icon, COLORREF background) {
    return Capture(kIconSize, kIconSize, [&](HDC dc, HDC) {
        const RECT all = {0, 0, kIconSize, kIconSize};
        const std::unique_ptr<std::remove_pointer_t<HBRUSH>, DeleteBrush> brush(
            ::CreateSolidBrush(background));
        ::FillRect(dc, &all, brush.get());
        ::DrawIconEx(dc, 0, 0, icon, kIconSize, kIconSize, 0, nullptr, DI_NORMAL);
    });
}

} // namespace

bool IconOnScreen(const std::wstring& programPath, int iconId, int band) {
    const std::unique_ptr<std::remove_pointer_t<HMODULE>, FreeLibrary> module(::LoadLibraryExW(
        programPath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    if (!module) {
        return false;
    }
    const std::unique_ptr<std::remove_pointer_t<HICON>, DestroyIcon> icon(static_cast<HICON>(
        ::LoadImageW(module.get(), MAKEINTRESOURCEW(iconId), IMAGE_ICON, kIconSize, kIconSize, 0)));
    if (!icon) {
        return false;
    }
    // Pixels that come out the same on black and on white are the icon's own.
    const Pixels onBlack = DrawIcon(icon.get(), RGB(0, 0, 0));
    const Pixels onWhite = DrawIcon(icon.get(), RGB(255, 255, 255));
    std::vector<POINT> opaque;
    for (int y = 0; y < kIconSize; ++y) {
        for (int x = 0; x < kIconSize; ++x) {
            if (!onBlack.data.empty() && onBlack.At(x, y) == onWhite.At(x, y)) {
                opaque.push_back({x, y});
            }
        }
    }
    if (opaque.empty()) {
        return false;
    }
    const int width = ::GetSystemMetrics(SM_CXSCREEN);
    const int top = ::GetSystemMetrics(SM_CYSCREEN) - band;
    const Pixels screen = Capture(width, band, [&](HDC dc, HDC display) {
        ::BitBlt(dc, 0, 0, width, band, display, 0, top, SRCCOPY);
    });
    if (screen.data.empty()) {
        return false;
    }
    for (int y = 0; y + kIconSize <= band; ++y) {
        for (int x = 0; x + kIconSize <= width; ++x) {
            size_t misses = 0;
            for (const POINT& p : opaque) {
                if (screen.At(x + p.x, y + p.y) != onBlack.At(p.x, p.y) &&
                    ++misses > opaque.size() / 4) {
                    break;
                }
            }
            if (misses <= opaque.size() / 4) {
                return true;
            }
        }
    }
    return false;
}

} // namespace krvn_e2e
