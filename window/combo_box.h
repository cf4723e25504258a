#pragma once
// A thin handle on a combo box.

#include <windows.h>

#include <string>

#include "window/control.h"

namespace KRVN {

class CComboBox : public CControl {
public:
    using CControl::CControl;

    // Returns the entry's index in the (possibly sorted) list, or a CB_ERR value.
    int AddString(const std::wstring& text);
    int GetCurSel() const;
    void SetCurSel(int index);
    // The entry's text, empty for a bad index.
    std::wstring GetLBText(int index) const;
};

} // namespace KRVN
