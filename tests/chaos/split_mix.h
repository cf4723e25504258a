#pragma once
// The campaign's random numbers: splitmix64, small and defined bit for bit,
// so one seed draws the same schedule on every toolchain and library.

#include <cstdint>

namespace krvn_chaos {

class SplitMix {
public:
    explicit SplitMix(std::uint64_t seed) noexcept : m_state(seed) {}

    std::uint64_t Next() noexcept {
        std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

    // A number in [0, count), count > 0 (the bias of the modulo is far below
    // anything a schedule could show).
    std::uint32_t Below(std::uint32_t count) noexcept {
        return static_cast<std::uint32_t>(Next() % count);
    }

    // A number in [low, high].
    int Between(int low, int high) noexcept {
        return low + static_cast<int>(Below(static_cast<std::uint32_t>(high - low + 1)));
    }

    bool Percent(std::uint32_t chance) noexcept { return Below(100) < chance; }

private:
    std::uint64_t m_state;
};

} // namespace krvn_chaos
