#pragma once
// Owners of user-interface resources: icons, menus and image lists.

#include <windows.h>
#include <commctrl.h>

#include "common/unique_handle.h"

namespace KRVN {

namespace details {

struct hicon_traits {
    using type = HICON;
    static type invalid() noexcept { return nullptr; }
    static void close(type value) noexcept { ::DestroyIcon(value); }
};

struct hmenu_traits {
    using type = HMENU;
    static type invalid() noexcept { return nullptr; }
    static void close(type value) noexcept { ::DestroyMenu(value); }
};

struct himagelist_traits {
    using type = HIMAGELIST;
    static type invalid() noexcept { return nullptr; }
    static void close(type value) noexcept { ::ImageList_Destroy(value); }
};

} // namespace details

using unique_hicon = unique_any<details::hicon_traits>;
using unique_hmenu = unique_any<details::hmenu_traits>;
using unique_himagelist = unique_any<details::himagelist_traits>;

// An icon of the module's resources at the given size (not shared, so the
// owner destroys it).
inline unique_hicon LoadIconResource(HINSTANCE module, UINT id, int size) {
    return unique_hicon(static_cast<HICON>(
        ::LoadImageW(module, MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, LR_DEFAULTCOLOR)));
}

} // namespace KRVN
