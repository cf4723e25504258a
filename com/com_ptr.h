#pragma once
// Owner of one counted reference to a COM interface (or to one of our own
// ComObject<T> classes, whose IUnknown methods are unambiguous).

#include <windows.h>
#include <objbase.h>

#include <cstddef>
#include <type_traits>
#include <utility>

#include "common/ca_exception.h"

namespace KRVN {

template <typename T> class com_ptr {
public:
    com_ptr() noexcept = default;
    com_ptr(std::nullptr_t) noexcept {}
    // Shares the object: takes a reference of its own.
    explicit com_ptr(T* ptr) noexcept : m_ptr(ptr) { add_ref(); }
    com_ptr(const com_ptr& other) noexcept : com_ptr(other.m_ptr) {}
    com_ptr(com_ptr&& other) noexcept : m_ptr(other.detach()) {}
    template <typename U, typename = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    com_ptr(const com_ptr<U>& other) noexcept : com_ptr(static_cast<T*>(other.get())) {}
    com_ptr& operator=(com_ptr other) noexcept {
        std::swap(m_ptr, other.m_ptr);
        return *this;
    }
    ~com_ptr() { reset(); }

    T* get() const noexcept { return m_ptr; }
    T* operator->() const noexcept { return m_ptr; }
    T& operator*() const noexcept { return *m_ptr; }
    explicit operator bool() const noexcept { return m_ptr != nullptr; }

    void reset() noexcept {
        if (T* old = std::exchange(m_ptr, nullptr)) {
            old->Release();
        }
    }
    // Takes over a reference the caller already owns.
    void attach(T* ptr) noexcept {
        reset();
        m_ptr = ptr;
    }
    // Hands the reference to the caller.
    [[nodiscard]] T* detach() noexcept { return std::exchange(m_ptr, nullptr); }

    // For functions that return a new reference through an out parameter.
    T** put() noexcept {
        reset();
        return &m_ptr;
    }
    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }

    // Fills an [out] parameter with a new reference (null stays null).
    HRESULT copy_to(T** out) const noexcept {
        if (!out) {
            return E_POINTER;
        }
        *out = m_ptr;
        if (m_ptr) {
            m_ptr->AddRef();
        }
        return S_OK;
    }

    // Another interface of the same object; raises CAException when the
    // object does not offer it.
    template <typename U> com_ptr<U> query() const {
        com_ptr<U> result;
        const HRESULT hr = query_to(result);
        if (FAILED(hr)) {
            KRVN_RAISE(hr);
        }
        return result;
    }

    // As query(), but null when the interface is not offered.
    template <typename U> com_ptr<U> try_query() const noexcept {
        com_ptr<U> result;
        query_to(result);
        return result;
    }

private:
    // Only a successful answer is trusted with the out parameter.
    template <typename U> HRESULT query_to(com_ptr<U>& result) const noexcept {
        if (!m_ptr) {
            return E_POINTER;
        }
        void* raw = nullptr;
        const HRESULT hr = m_ptr->QueryInterface(__uuidof(U), &raw);
        if (SUCCEEDED(hr)) {
            result.attach(static_cast<U*>(raw));
        }
        return hr;
    }

    void add_ref() noexcept {
        if (m_ptr) {
            m_ptr->AddRef();
        }
    }

    T* m_ptr = nullptr;
};

} // namespace KRVN
