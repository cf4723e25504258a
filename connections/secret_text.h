#pragma once
// Copies of a password that are wiped before their memory goes back. The
// text is sized once where it is made (reserve first): a string that grows
// hands its old buffer back unwiped.

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <utility>

template <class Char> class SecretText {
public:
    SecretText() = default;
    explicit SecretText(std::basic_string<Char> text) noexcept : m_text(std::move(text)) {}
    SecretText(SecretText&& other) noexcept : m_text(std::move(other.m_text)) { other.Wipe(); }
    SecretText& operator=(SecretText&& other) noexcept {
        Wipe();
        m_text = std::move(other.m_text);
        other.Wipe();
        return *this;
    }
    SecretText(const SecretText&) = delete;
    SecretText& operator=(const SecretText&) = delete;
    ~SecretText() { Wipe(); }

    std::basic_string<Char>& Text() noexcept { return m_text; }
    const std::basic_string<Char>& Text() const noexcept { return m_text; }

    // Overwrites every character the buffer can hold and empties the text;
    // the buffer itself stays.
    void Wipe() noexcept {
        ::SecureZeroMemory(m_text.data(), m_text.capacity() * sizeof(Char));
        m_text.clear();
    }

private:
    std::basic_string<Char> m_text;
};

using SecretWString = SecretText<wchar_t>;
using SecretString = SecretText<char>;

// Overwrites a string that is about to be freed.
inline void WipeBstr(BSTR text) noexcept {
    if (text) {
        ::SecureZeroMemory(text, ::SysStringByteLen(text));
    }
}
