// The seeded fault campaign as a test: the seed, the minutes of schedule and
// the run's folder come from the environment (scripts/chaos.sh sets them;
// CTest gives a fixed seed and a short slice), and the test passes only when
// the campaign saw no violation.
//
//   KRVN_CHAOS_SEED     the schedule's seed (decimal, or hexadecimal after 0x)
//   KRVN_CHAOS_MINUTES  minutes of schedule (fractions allowed); a bounded tail follows
//   KRVN_CHAOS_DIR      the run's folder (Unix path); default <test output>/chaos-<seed>

#include <windows.h>

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "tests/chaos/campaign.h"
#include "tests/support/environment.h"

namespace krvn_chaos {
namespace {

constexpr std::uint64_t kDefaultSeed = 1;
constexpr double kDefaultMinutes = 1.5;
// A run longer than a day is a mistake in the environment.
constexpr double kMostMinutes = 24 * 60;

// Makes folder (and its parents) and removes an earlier run's logs from it:
// the logs are appended to, and a run must read only its own.
bool PrepareFolder(const std::wstring& folder) {
    for (size_t at = folder.find(L'\\', 3); at != std::wstring::npos;
         at = folder.find(L'\\', at + 1)) {
        ::CreateDirectoryW(folder.substr(0, at).c_str(), nullptr);
    }
    ::CreateDirectoryW(folder.c_str(), nullptr);
    if (::GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES) {
        return false;
    }
    for (const wchar_t* pattern : {L"\\*.log", L"\\*.txt"}) {
        WIN32_FIND_DATAW entry{};
        const HANDLE found = ::FindFirstFileW((folder + pattern).c_str(), &entry);
        if (found == INVALID_HANDLE_VALUE) {
            continue;
        }
        const auto close = KRVN::scope_exit([found] { ::FindClose(found); });
        do {
            ::DeleteFileW((folder + L"\\" + entry.cFileName).c_str());
        } while (::FindNextFileW(found, &entry));
    }
    return true;
}

CampaignSettings FromEnvironment() {
    CampaignSettings settings;
    const std::string seed = krvn_test::Env("KRVN_CHAOS_SEED");
    settings.seed = seed.empty() ? kDefaultSeed : std::strtoull(seed.c_str(), nullptr, 0);
    const std::string minutes = krvn_test::Env("KRVN_CHAOS_MINUTES");
    settings.minutes = minutes.empty() ? kDefaultMinutes : std::strtod(minutes.c_str(), nullptr);
    std::string folder = krvn_test::Env("KRVN_CHAOS_DIR");
    if (folder.empty()) {
        folder = krvn_test::Env("KRVN_TEST_OUTPUT") + "/chaos-" + std::to_string(settings.seed);
    }
    settings.folder = krvn_test::DosPath(folder);
    return settings;
}

TEST(ChaosCampaign, NoOrderIsLost) {
    const CampaignSettings settings = FromEnvironment();
    ASSERT_GT(settings.minutes, 0.0);
    ASSERT_LE(settings.minutes, kMostMinutes);
    ASSERT_TRUE(PrepareFolder(settings.folder));
    Campaign campaign(settings);
    EXPECT_TRUE(campaign.Run()) << "see the VIOLATION lines and the summary above";
}

} // namespace
} // namespace krvn_chaos
