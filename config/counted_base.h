#pragma once
// The count block of CountedPtr, without the owned object's type: a strong
// count and a second count, both starting at 1 and changed atomically. Every
// strong reference holds one unit of each; the object goes when the strong
// count reaches 0, the block itself when the second count does.

#include <atomic>
#include <cstdint>

namespace KRVN {

class counted_base {
public:
    counted_base() noexcept = default;
    counted_base(const counted_base&) = delete;
    counted_base& operator=(const counted_base&) = delete;

    void add_ref() noexcept {
        m_strong.fetch_add(1, std::memory_order_relaxed);
        m_second.fetch_add(1, std::memory_order_relaxed);
    }

    void release() noexcept {
        if (m_strong.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            dispose();
        }
        if (m_second.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            delete this;
        }
    }

    std::int32_t use_count() const noexcept { return m_strong.load(std::memory_order_acquire); }

protected:
    virtual ~counted_base() = default;

private:
    // Destroys the owned object.
    virtual void dispose() noexcept = 0;

    std::atomic<std::int32_t> m_strong{1};
    std::atomic<std::int32_t> m_second{1};
};

} // namespace KRVN
