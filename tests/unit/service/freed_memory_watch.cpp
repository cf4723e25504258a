#include "tests/unit/service/freed_memory_watch.h"

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <new>
#include <unordered_map>

// Not declared by the SDK headers of this tool chain.
extern "C" void __cdecl SetOaNoCache(void);

namespace {

// Before any BSTR is made, as the function asks: a cached BSTR is never
// freed, so its content could not be read going back.
const bool g_bstrCacheOff = (::SetOaNoCache(), true);

struct Watched {
    std::vector<std::wstring> texts;
    std::atomic<std::size_t> heap{0};
    std::atomic<std::size_t> task{0};
};

// Filled before a watch arms; read by every thread that frees meanwhile.
Watched g_watched;
std::atomic<bool> g_armed{false};

// Allocates nothing: it runs inside operator delete.
bool HoldsText(const void* block, std::size_t bytes, const Watched& watched) {
    const auto* begin = static_cast<const unsigned char*>(block);
    return std::any_of(watched.texts.begin(), watched.texts.end(), [&](const std::wstring& text) {
        const auto* first = reinterpret_cast<const unsigned char*>(text.data());
        const auto* last = first + text.size() * sizeof(wchar_t);
        return std::search(begin, begin + bytes, first, last) != begin + bytes;
    });
}

void Inspect(const void* block, std::size_t bytes, std::atomic<std::size_t> Watched::*count) {
    if (g_armed && block && HoldsText(block, bytes, g_watched)) {
        ++(g_watched.*count);
    }
}

// Each C++ heap block carries its size ahead of it, 16 bytes to keep the
// alignment new promises.
constexpr std::size_t kHeader = 16;

void* Allocate(std::size_t bytes) {
    void* raw = std::malloc(bytes + kHeader);
    if (!raw) {
        throw std::bad_alloc();
    }
    *static_cast<std::size_t*>(raw) = bytes;
    return static_cast<unsigned char*>(raw) + kHeader;
}

void Release(void* block) noexcept {
    if (block) {
        void* raw = static_cast<unsigned char*>(block) - kHeader;
        Inspect(block, *static_cast<std::size_t*>(raw), &Watched::heap);
        std::free(raw);
    }
}

// Notes the size of every task block allocated while it is registered, and
// reads the block when it is freed. Registered once, for the program's life:
// COM keeps a spy while blocks it saw are outstanding.
class TaskMemorySpy final : public IMallocSpy {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IUnknown || iid == IID_IMallocSpy) {
            *object = static_cast<IMallocSpy*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    // Static: it outlives every reference COM takes.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T bytes) override {
        t_requested = bytes;
        return bytes;
    }
    void* STDMETHODCALLTYPE PostAlloc(void* block) override {
        Track(block);
        return block;
    }
    void* STDMETHODCALLTYPE PreFree(void* block, BOOL spied) override {
        if (spied) {
            Inspect(block, Untrack(block), &Watched::task);
        }
        return block;
    }
    void STDMETHODCALLTYPE PostFree(BOOL) override {}
    SIZE_T STDMETHODCALLTYPE PreRealloc(void* block, SIZE_T bytes, void** request,
                                        BOOL spied) override {
        if (spied) {
            Untrack(block);
        }
        t_requested = bytes;
        *request = block;
        return bytes;
    }
    void* STDMETHODCALLTYPE PostRealloc(void* block, BOOL) override {
        Track(block);
        return block;
    }
    void* STDMETHODCALLTYPE PreGetSize(void* block, BOOL) override { return block; }
    SIZE_T STDMETHODCALLTYPE PostGetSize(SIZE_T bytes, BOOL) override { return bytes; }
    void* STDMETHODCALLTYPE PreDidAlloc(void* block, BOOL) override { return block; }
    int STDMETHODCALLTYPE PostDidAlloc(void*, BOOL, int allocated) override { return allocated; }
    void STDMETHODCALLTYPE PreHeapMinimize() override {}
    void STDMETHODCALLTYPE PostHeapMinimize() override {}

private:
    void Track(void* block) {
        if (block) {
            std::lock_guard<std::mutex> hold(m_lock);
            m_sizes[block] = t_requested;
        }
    }
    std::size_t Untrack(void* block) {
        std::lock_guard<std::mutex> hold(m_lock);
        const auto found = m_sizes.find(block);
        if (found == m_sizes.end()) {
            return 0;
        }
        const std::size_t bytes = found->second;
        m_sizes.erase(found);
        return bytes;
    }

    static thread_local SIZE_T t_requested;
    std::mutex m_lock;
    std::unordered_map<void*, std::size_t> m_sizes;
};

thread_local SIZE_T TaskMemorySpy::t_requested = 0;

} // namespace

// The library's array and nothrow forms come here too.
void* operator new(std::size_t bytes) {
    return Allocate(bytes);
}
void operator delete(void* block) noexcept {
    Release(block);
}
void operator delete(void* block, std::size_t) noexcept {
    Release(block);
}

FreedMemoryWatch::FreedMemoryWatch(std::vector<std::wstring> texts) {
    static TaskMemorySpy spy;
    static const HRESULT registered = ::CoRegisterMallocSpy(&spy);
    EXPECT_EQ(S_OK, registered) << "CoRegisterMallocSpy";
    g_watched.texts = std::move(texts);
    g_watched.heap = 0;
    g_watched.task = 0;
    g_armed = true;
}

FreedMemoryWatch::~FreedMemoryWatch() {
    g_armed = false;
}

std::size_t FreedMemoryWatch::HeapBlocks() const noexcept {
    return g_watched.heap;
}

std::size_t FreedMemoryWatch::TaskBlocks() const noexcept {
    return g_watched.task;
}
