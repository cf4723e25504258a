#pragma once
// A thin handle on a list box.

#include <windows.h>

#include <string>

#include "window/control.h"

namespace KRVN {

class CListBox : public CControl {
public:
    using CControl::CControl;

    int AddString(const std::wstring& text);
    void ResetContent();
    int GetCount() const;
    std::wstring GetText(int index) const;
    void SetHorizontalExtent(int width);

    // Sets the horizontal scroll extent to the widest line as drawn in the
    // list's font, plus the font's average character width.
    void FitHorizontalExtent();
};

} // namespace KRVN
