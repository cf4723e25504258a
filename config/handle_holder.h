#pragma once
// The record through which a CSharedHandle's CountedPtr owns its heap slot:
// when the last reference goes, the handle in the slot (if any) is closed the
// way Traits says, then the slot is freed.

namespace KRVN {

template <class Handle, class Traits> struct HandleHolder {
    void operator()(Handle* slot) const noexcept {
        if (*slot != Traits::invalid()) {
            Traits::close(*slot);
        }
        delete slot;
    }
};

} // namespace KRVN
