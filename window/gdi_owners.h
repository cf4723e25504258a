#pragma once
// Owners of user-interface resources: icons, menus and image lists.

#include <windows.h>
#include <commctrl.h>

#include "common/unique_handle.h"

namespace KRVN {

using unique_hicon = unique_any<close_with<HICON, ::DestroyIcon>>;
using unique_hmenu = unique_any<close_with<HMENU, ::DestroyMenu>>;
using unique_himagelist = unique_any<close_with<HIMAGELIST, ::ImageList_Destroy>>;

// An icon of the module's resources at the given size (not shared, so the
// owner destroys it).
inline unique_hicon LoadIconResource(HINSTANCE module, UINT id, int size) {
    return unique_hicon(static_cast<HICON>(
        ::LoadImageW(module, MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, LR_DEFAULTCOLOR)));
}

} // namespace KRVN
