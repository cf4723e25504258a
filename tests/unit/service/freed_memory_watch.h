#pragma once
// Reads every block this program gives back, from the C++ heap and from
// COM's task allocator (where BSTRs live), at the moment it is freed, and
// counts the blocks that still hold one of the watched texts. The program
// that links freed_memory_watch.cpp has its global operator new and delete
// replaced, an IMallocSpy registered with COM and the BSTR cache off, so a
// freed BSTR goes back to the task allocator at once.

#include <cstddef>
#include <string>
#include <vector>

class FreedMemoryWatch {
public:
    // Watches for the texts (their UTF-16 bytes) until destroyed; one watch
    // at a time. The thread must be in a COM apartment.
    explicit FreedMemoryWatch(std::vector<std::wstring> texts);
    ~FreedMemoryWatch();
    FreedMemoryWatch(const FreedMemoryWatch&) = delete;
    FreedMemoryWatch& operator=(const FreedMemoryWatch&) = delete;

    // Blocks freed since the watch began that held a text.
    std::size_t HeapBlocks() const noexcept;
    std::size_t TaskBlocks() const noexcept;
};
