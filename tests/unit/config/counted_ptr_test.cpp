#include "config/counted_ptr.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using KRVN::CountedPtr;

namespace {

struct Base {
    virtual ~Base() = default;
};

struct Tracked : Base {
    explicit Tracked(std::atomic<int>& destroyed) : m_destroyed(destroyed) {}
    ~Tracked() override { ++m_destroyed; }
    std::atomic<int>& m_destroyed;
};

} // namespace

TEST(CountedPtr, CopiesShareOneCountAndTheLastOneDeletesThroughTheBase) {
    std::atomic<int> destroyed{0};
    CountedPtr<Base> base;
    {
        CountedPtr<Tracked> first(new Tracked(destroyed));
        EXPECT_EQ(1, first.UseCount());
        base = first;
        CountedPtr<Tracked> second = first;
        EXPECT_EQ(3, base.UseCount());
    }
    EXPECT_EQ(0, destroyed.load());
    EXPECT_EQ(1, base.UseCount());
    base.Reset();
    EXPECT_EQ(1, destroyed.load());
    EXPECT_EQ(0, base.UseCount());
}

TEST(CountedPtr, CustomDeleterRunsOnceWhenTheLastReferenceGoes) {
    int slot = 5;
    int closes = 0;
    {
        CountedPtr<int> handle(&slot, [&closes](int* p) {
            ++closes;
            *p = 0;
        });
        CountedPtr<int> copy = handle;
        CountedPtr<int> moved = std::move(copy);
        EXPECT_FALSE(copy);
        EXPECT_EQ(2, moved.UseCount());
    }
    EXPECT_EQ(1, closes);
    EXPECT_EQ(0, slot);
}

TEST(CountedPtr, ThreadsCopyingAndDroppingLeaveTheCountExact) {
    std::atomic<int> destroyed{0};
    CountedPtr<Base> shared(new Tracked(destroyed));
    constexpr int kThreads = 4;
    constexpr int kRounds = 20000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([shared] {
            for (int i = 0; i < kRounds; ++i) {
                CountedPtr<Base> a = shared;
                CountedPtr<Base> b = a;
                a.Reset();
                CountedPtr<Base> c = std::move(b);
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(1, shared.UseCount());
    EXPECT_EQ(0, destroyed.load());

    // The last references dropped on several threads at once: exactly one
    // of them deletes the object.
    std::vector<CountedPtr<Base>> copies(kThreads, shared);
    shared.Reset();
    threads.clear();
    for (auto& copy : copies)
        threads.emplace_back([&copy] { copy.Reset(); });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(1, destroyed.load());
}
