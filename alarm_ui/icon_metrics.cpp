#include "alarm_ui/icon_metrics.h"

namespace {

using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
using GetSystemMetricsForDpiFunction = int(WINAPI*)(int, UINT);

template <typename Function> Function User32Function(const char* name) {
    return reinterpret_cast<Function>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), name)));
}

// The metric at the window's DPI where the system knows DPI per window
// (Windows 10, 1607 and later); else the system-wide metric, which is what
// a DPI-aware process gets at the system's DPI.
int MetricForWindow(int metric, HWND window) {
    static const auto dpiForWindow = User32Function<GetDpiForWindowFunction>("GetDpiForWindow");
    static const auto metricForDpi =
        User32Function<GetSystemMetricsForDpiFunction>("GetSystemMetricsForDpi");
    if (dpiForWindow && metricForDpi && window) {
        const UINT dpi = dpiForWindow(window);
        if (const int scaled = dpi ? metricForDpi(metric, dpi) : 0) {
            return scaled;
        }
    }
    return ::GetSystemMetrics(metric);
}

} // namespace

int SmallIconSize(HWND window) {
    return MetricForWindow(SM_CXSMICON, window);
}

int LargeIconSize(HWND window) {
    return MetricForWindow(SM_CXICON, window);
}
