#pragma once
// Reference-counted shared pointer of the configuration store. Copies share
// one separately allocated count block; the pointer may be copied and dropped
// on several threads at once, the object it points to is not made safe by it.

#include "config/checked_deleter.h"
#include "config/counted_base_impl.h"

#include <cstddef>
#include <cstdint>
#include <utility>

namespace KRVN {

template <class T> class CountedPtr {
public:
    CountedPtr() noexcept = default;
    CountedPtr(std::nullptr_t) noexcept {}

    // Takes ownership of p; it is deleted with checked_deleter.
    template <class U> explicit CountedPtr(U* p) : CountedPtr(p, checked_deleter<U>()) {}

    // Takes ownership of p; d(p) ends it. When the count block cannot be
    // allocated, d(p) runs before the exception leaves.
    template <class U, class D> CountedPtr(U* p, D d) : m_ptr(p) {
        try {
            m_count = new counted_base_impl<U*, D>(p, d);
        } catch (...) {
            d(p);
            throw;
        }
    }

    CountedPtr(const CountedPtr& other) noexcept : m_ptr(other.m_ptr), m_count(other.m_count) {
        if (m_count) {
            m_count->add_ref();
        }
    }

    template <class U>
    CountedPtr(const CountedPtr<U>& other) noexcept : m_ptr(other.m_ptr), m_count(other.m_count) {
        if (m_count) {
            m_count->add_ref();
        }
    }

    CountedPtr(CountedPtr&& other) noexcept : m_ptr(other.m_ptr), m_count(other.m_count) {
        other.m_ptr = nullptr;
        other.m_count = nullptr;
    }

    ~CountedPtr() {
        if (m_count) {
            m_count->release();
        }
    }

    CountedPtr& operator=(CountedPtr other) noexcept {
        Swap(other);
        return *this;
    }

    void Reset() noexcept { CountedPtr().Swap(*this); }

    void Swap(CountedPtr& other) noexcept {
        std::swap(m_ptr, other.m_ptr);
        std::swap(m_count, other.m_count);
    }

    T* Get() const noexcept { return m_ptr; }
    T& operator*() const noexcept { return *m_ptr; }
    T* operator->() const noexcept { return m_ptr; }
    explicit operator bool() const noexcept { return m_ptr != nullptr; }

    // Number of strong references; 0 for an empty pointer.
    std::int32_t UseCount() const noexcept { return m_count ? m_count->use_count() : 0; }

private:
    template <class U> friend class CountedPtr;

    T* m_ptr = nullptr;
    counted_base* m_count = nullptr;
};

} // namespace KRVN
