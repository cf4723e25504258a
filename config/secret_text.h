#pragma once
// Copies of a password that are wiped before their memory goes back: the
// server records the store reads and writes, and the transports' copies.
// The text is sized once where it is made (reserve first): a string that
// grows hands its old buffer back unwiped. A short text lives inside the
// object itself, so the object is wiped too, wherever it ends.

#include <windows.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

template <class Char> class SecretText {
public:
    SecretText() = default;
    explicit SecretText(std::basic_string<Char> text) noexcept : m_text(std::move(text)) {}
    // A copy of length characters (none when text is null), allocated once.
    SecretText(const Char* text, std::size_t length) {
        if (text) {
            m_text.assign(text, length);
        }
    }
    SecretText(const SecretText& other) : m_text(other.m_text) {}
    SecretText& operator=(const SecretText& other) {
        if (this != &other) {
            Wipe();
            m_text.assign(other.m_text);
        }
        return *this;
    }
    SecretText(SecretText&& other) noexcept : m_text(std::move(other.m_text)) { other.Wipe(); }
    SecretText& operator=(SecretText&& other) noexcept {
        Wipe();
        m_text = std::move(other.m_text);
        other.Wipe();
        return *this;
    }
    ~SecretText() { Wipe(); }

    std::basic_string<Char>& Text() noexcept { return m_text; }
    const std::basic_string<Char>& Text() const noexcept { return m_text; }

    // Compared with a text without a copy of either.
    friend bool operator==(const SecretText& secret, std::basic_string_view<Char> text) noexcept {
        return std::basic_string_view<Char>(secret.m_text) == text;
    }
    friend bool operator==(std::basic_string_view<Char> text, const SecretText& secret) noexcept {
        return secret == text;
    }

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
