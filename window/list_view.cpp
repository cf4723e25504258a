#include "window/list_view.h"

namespace KRVN {

bool CListViewCtrl::InsertColumn(int index, const std::wstring& heading, int width, int format) {
    LVCOLUMNW column = {};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    column.fmt = format;
    column.cx = width;
    column.pszText = const_cast<wchar_t*>(heading.c_str());
    column.iSubItem = index;
    return Send(LVM_INSERTCOLUMNW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&column)) ==
           index;
}

void CListViewCtrl::AddExtendedStyle(DWORD style) {
    Send(LVM_SETEXTENDEDLISTVIEWSTYLE, style, style);
}

void CListViewCtrl::SetSmallImageList(HIMAGELIST images) {
    Send(LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(images));
}

int CListViewCtrl::InsertItem(int index, const std::wstring& text, int image) {
    LVITEMW item = {};
    item.mask = LVIF_TEXT | LVIF_IMAGE;
    item.iItem = index;
    item.pszText = const_cast<wchar_t*>(text.c_str());
    item.iImage = image;
    return static_cast<int>(Send(LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
}

bool CListViewCtrl::SetItemText(int item, int subItem, const std::wstring& text) {
    LVITEMW change = {};
    change.iSubItem = subItem;
    change.pszText = const_cast<wchar_t*>(text.c_str());
    return Send(LVM_SETITEMTEXTW, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&change)) !=
           0;
}

std::wstring CListViewCtrl::GetItemText(int item, int subItem) const {
    // The control copies at most the buffer's size; grow until the text fits.
    for (size_t size = 256;; size *= 2) {
        std::wstring text(size, L'\0');
        LVITEMW query = {};
        query.iSubItem = subItem;
        query.pszText = text.data();
        query.cchTextMax = static_cast<int>(size);
        const auto length = static_cast<size_t>(
            Send(LVM_GETITEMTEXTW, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&query)));
        if (length + 1 < size) {
            text.resize(length);
            return text;
        }
    }
}

bool CListViewCtrl::DeleteItem(int item) {
    return Send(LVM_DELETEITEM, static_cast<WPARAM>(item), 0) != 0;
}

bool CListViewCtrl::DeleteAllItems() {
    return Send(LVM_DELETEALLITEMS, 0, 0) != 0;
}

int CListViewCtrl::GetItemCount() const {
    return static_cast<int>(Send(LVM_GETITEMCOUNT, 0, 0));
}

int CListViewCtrl::GetSelectedIndex() const {
    return static_cast<int>(Send(LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

void CListViewCtrl::SelectItem(int item) {
    LVITEMW state = {};
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    state.state = LVIS_SELECTED | LVIS_FOCUSED;
    Send(LVM_SETITEMSTATE, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&state));
    Send(LVM_ENSUREVISIBLE, static_cast<WPARAM>(item), FALSE);
}

int CListViewCtrl::FindItem(const std::wstring& text) const {
    LVFINDINFOW find = {};
    find.flags = LVFI_STRING;
    find.psz = text.c_str();
    return static_cast<int>(
        Send(LVM_FINDITEMW, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&find)));
}

} // namespace KRVN
