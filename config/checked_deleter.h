#pragma once
// Deletes through a complete type only: deleting an incomplete type would
// skip its destructor without a word.

namespace KRVN {

template <class T> struct checked_deleter {
    void operator()(T* p) const noexcept {
        static_assert(sizeof(T) > 0, "cannot delete an incomplete type");
        delete p;
    }
};

} // namespace KRVN
