#pragma once
// The count block for one owned pointer and the deleter that ends it.

#include "config/counted_base.h"

#include <utility>

namespace KRVN {

template <class P, class D> class counted_base_impl final : public counted_base {
public:
    counted_base_impl(P p, D d) : m_ptr(p), m_deleter(std::move(d)) {}

private:
    void dispose() noexcept override { m_deleter(m_ptr); }

    P m_ptr;
    D m_deleter;
};

} // namespace KRVN
