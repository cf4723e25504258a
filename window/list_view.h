#pragma once
// A thin handle on a list-view control in report view.

#include <windows.h>
#include <commctrl.h>

#include <string>

#include "window/control.h"

namespace KRVN {

class CListViewCtrl : public CControl {
public:
    using CControl::CControl;

    bool InsertColumn(int index, const std::wstring& heading, int width, int format = LVCFMT_LEFT);
    void AddExtendedStyle(DWORD style);
    // The list owns an image list handed to it unless it shares its lists.
    void SetSmallImageList(HIMAGELIST images);

    // Returns the new row's index, or -1.
    int InsertItem(int index, const std::wstring& text, int image);
    bool SetItemText(int item, int subItem, const std::wstring& text);
    std::wstring GetItemText(int item, int subItem) const;
    bool DeleteItem(int item);
    bool DeleteAllItems();
    int GetItemCount() const;

    // The first selected row, or -1.
    int GetSelectedIndex() const;
    // Makes the row selected and focused and scrolls it into view.
    void SelectItem(int item);

    // The first row whose text equals `text` (letter case ignored), or -1.
    int FindItem(const std::wstring& text) const;
};

} // namespace KRVN
