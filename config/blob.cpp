#include "config/blob.h"

#include "common/ca_exception.h"
#include "config/image_validation.h"
#include "config/little_endian.h"

#include <algorithm>
#include <cstring>

namespace KRVN {

namespace {

constexpr std::size_t kHeaderSize = 8;
constexpr std::size_t kEntrySize = 4;
constexpr std::size_t kDescriptorSize = 8;
constexpr std::size_t kNewBlobSize = 12;
// Offsets are 32-bit, so no image may reach beyond that.
constexpr std::uint64_t kMaxImageSize = 0xFFFFFFFFu;

void RequireAddressable(std::uint64_t end) {
    if (end > kMaxImageSize) {
        KRVN_RAISE(kE_INVALIDARG);
    }
}

void RequireValid(const void* image, std::size_t length) {
    if (ValidateImage(image, length) != ImageStatus::Ok) {
        KRVN_RAISE(kE_INVALIDARG);
    }
}

std::size_t EntryPosition(std::uint32_t index) {
    return kHeaderSize + kEntrySize * static_cast<std::size_t>(index);
}

} // namespace

template <class Buffer> CBlobT<Buffer>::CBlobT() {
    Reset();
}

template <class Buffer> CBlobT<Buffer>::CBlobT(const void* image, std::size_t length) {
    Reset();
    LoadFrom(image, length);
}

template <class Buffer> std::uint32_t CBlobT<Buffer>::Load(std::size_t position) const noexcept {
    return LoadLE32(m_buffer.Data() + position);
}

template <class Buffer>
void CBlobT<Buffer>::Store(std::size_t position, std::uint32_t value) noexcept {
    StoreLE32(m_buffer.Data() + position, value);
}

template <class Buffer> std::uint32_t CBlobT<Buffer>::PartCount() const noexcept {
    return Load(4);
}

template <class Buffer> std::uint32_t CBlobT<Buffer>::Entry(std::uint32_t index) const noexcept {
    return Load(EntryPosition(index));
}

template <class Buffer>
void CBlobT<Buffer>::SetEntry(std::uint32_t index, std::uint32_t descriptor) noexcept {
    Store(EntryPosition(index), descriptor);
}

template <class Buffer> void CBlobT<Buffer>::Reset() {
    m_buffer.Resize(kNewBlobSize);
    std::memset(m_buffer.Data(), 0, kNewBlobSize);
    Store(0, kFormatTag);
}

template <class Buffer> std::size_t CBlobT<Buffer>::UsedEnd() const noexcept {
    const std::uint32_t count = PartCount();
    std::size_t end = EntryPosition(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::size_t descriptor = Entry(i);
        if (descriptor == 0) {
            continue;
        }
        end = std::max(end, descriptor + kDescriptorSize);
        const std::size_t length = Load(descriptor);
        if (length != 0) {
            end = std::max(end, Load(descriptor + 4) + length);
        }
    }
    return end;
}

template <class Buffer> void CBlobT<Buffer>::Reserve(std::size_t extra) {
    const std::size_t used = UsedEnd();
    if (m_buffer.Size() - used >= extra) {
        return;
    }
    RequireAddressable(static_cast<std::uint64_t>(used) + extra);
    m_buffer.Resize(used + extra);
}

template <class Buffer>
void CBlobT<Buffer>::Shift(std::size_t position, std::int64_t delta, std::uint32_t growing) {
    if (delta == 0) {
        return;
    }
    const bool inserting = delta > 0;
    const std::size_t amount = static_cast<std::size_t>(inserting ? delta : -delta);
    if (inserting) {
        Reserve(amount);
    }
    const std::size_t used = UsedEnd();
    if (position > used) {
        return;
    }

    const std::uint32_t count = PartCount();
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::size_t descriptor = Entry(i);
        if (descriptor == 0) {
            continue;
        }
        const std::size_t data = Load(descriptor + 4);
        if (data >= position && i != growing) {
            Store(descriptor + 4,
                  static_cast<std::uint32_t>(inserting ? data + amount : data - amount));
        }
        if (descriptor >= position) {
            SetEntry(i, static_cast<std::uint32_t>(inserting ? descriptor + amount
                                                             : descriptor - amount));
        }
    }

    unsigned char* bytes = m_buffer.Data();
    if (inserting) {
        std::memmove(bytes + position + amount, bytes + position, used - position);
        std::memset(bytes + position, 0, amount);
    } else {
        std::memmove(bytes + position - amount, bytes + position, used - position);
        std::memset(bytes + used - amount, 0, amount);
    }
}

template <class Buffer>
void CBlobT<Buffer>::AddEmptyParts(std::uint32_t count, std::size_t dataBytes) {
    if (count == 0) {
        return;
    }
    RequireAddressable(dataBytes);
    const std::uint64_t extra =
        kDescriptorSize * std::uint64_t{count} + kEntrySize * std::uint64_t{count} + dataBytes;
    RequireAddressable(UsedEnd() + extra);
    Reserve(static_cast<std::size_t>(extra));
    const std::uint32_t first = PartCount();
    Shift(EntryPosition(first), static_cast<std::int64_t>(kEntrySize) * count);
    Store(4, first + count);
    // The new descriptors go behind everything in use; they may land on bytes
    // an assigned image left beyond its used end, so they are zeroed.
    std::size_t descriptor = UsedEnd();
    for (std::uint32_t i = 0; i < count; ++i) {
        std::memset(m_buffer.Data() + descriptor, 0, kDescriptorSize);
        SetEntry(first + i, static_cast<std::uint32_t>(descriptor));
        descriptor += kDescriptorSize;
    }
}

template <class Buffer>
void CBlobT<Buffer>::SetPart(std::uint32_t index, const void* data, std::size_t length) {
    RequireAddressable(length);
    const std::uint32_t count = PartCount();
    const std::uint64_t newParts = index >= count ? std::uint64_t{index} - count + 1 : 0;
    RequireAddressable(UsedEnd() + (kDescriptorSize + kEntrySize) * newParts + length);

    // Data taken from this blob's own image would move under the edit.
    CBuffer copy;
    if (m_buffer.Holds(data, length)) {
        copy.Assign(data, length);
        data = copy.Data();
    }

    AddEmptyParts(static_cast<std::uint32_t>(newParts), length);
    std::size_t descriptor = Entry(index);
    if (descriptor == 0) {
        // A part without descriptor reads as empty already. Dropping a value
        // written to it would lose data without a word, so it gets one.
        if (length == 0) {
            return;
        }
        Reserve(kDescriptorSize + length);
        descriptor = UsedEnd();
        std::memset(m_buffer.Data() + descriptor, 0, kDescriptorSize);
        SetEntry(index, static_cast<std::uint32_t>(descriptor));
    }
    const std::size_t current = Load(descriptor);
    if (length == 0) {
        if (current != 0) {
            Shift(Load(descriptor + 4) + current, -static_cast<std::int64_t>(current));
            descriptor = Entry(index);
        }
        Store(descriptor, 0);
        Store(descriptor + 4, 0);
        return;
    }

    if (current == 0) {
        Reserve(length);
        const std::size_t offset = UsedEnd();
        std::memset(m_buffer.Data() + offset, 0, length);
        Store(descriptor + 4, static_cast<std::uint32_t>(offset));
    } else if (current < length) {
        Shift(Load(descriptor + 4), static_cast<std::int64_t>(length - current), index);
        descriptor = Entry(index);
    } else if (current > length) {
        const std::size_t surplus = current - length;
        Shift(Load(descriptor + 4) + surplus, -static_cast<std::int64_t>(surplus));
        descriptor = Entry(index);
    }
    Store(descriptor, static_cast<std::uint32_t>(length));
    if (data != nullptr) {
        std::memcpy(m_buffer.Data() + Load(descriptor + 4), data, length);
    }
}

template <class Buffer>
void CBlobT<Buffer>::GetPart(std::uint32_t index, const unsigned char*& data,
                             std::size_t& length) const {
    data = nullptr;
    length = 0;
    if (index >= PartCount()) {
        return;
    }
    const std::size_t descriptor = Entry(index);
    if (descriptor == 0 || Load(descriptor) == 0) {
        return;
    }
    data = m_buffer.Data() + Load(descriptor + 4);
    length = Load(descriptor);
}

template <class Buffer> void CBlobT<Buffer>::AppendPart(const void* data, std::size_t length) {
    SetPart(PartCount(), data, length);
}

template <class Buffer> void CBlobT<Buffer>::RemovePart(std::uint32_t index) {
    if (index >= PartCount()) {
        return;
    }
    std::size_t descriptor = Entry(index);
    if (descriptor != 0) {
        const std::size_t length = Load(descriptor);
        if (length != 0) {
            Shift(Load(descriptor + 4) + length, -static_cast<std::int64_t>(length));
            descriptor = Entry(index);
        }
        Store(descriptor, 0);
        Store(descriptor + 4, 0);
        SetEntry(index, 0);
        Shift(descriptor + kDescriptorSize, -static_cast<std::int64_t>(kDescriptorSize));
    }
    Shift(EntryPosition(index) + kEntrySize, -static_cast<std::int64_t>(kEntrySize));
    Store(4, PartCount() - 1);
}

template <class Buffer> void CBlobT<Buffer>::Compact(bool removeEmpty) {
    if (removeEmpty) {
        std::uint32_t i = 0;
        while (i < PartCount()) {
            const std::size_t descriptor = Entry(i);
            if (descriptor == 0 || Load(descriptor) == 0) {
                RemovePart(i);
            } else {
                ++i;
            }
        }
    }
    const std::size_t used = UsedEnd();
    if (m_buffer.Size() > used) {
        m_buffer.Resize(used);
    }
}

template <class Buffer> void CBlobT<Buffer>::WriteTo(CBuffer& vector) {
    Compact(true);
    vector.Assign(m_buffer.Data(), m_buffer.Size());
}

template <class Buffer> void CBlobT<Buffer>::Assign(const void* bytes, std::size_t length) {
    RequireValid(bytes, length);
    m_buffer.Assign(bytes, length);
}

template <class Buffer> void CBlobT<Buffer>::LoadFrom(const void* image, std::size_t length) {
    RequireValid(image, length);
    CBlobT rebuilt;
    rebuilt.Rebuild(static_cast<const unsigned char*>(image));
    m_buffer.Swap(rebuilt.m_buffer);
}

template <class Buffer> void CBlobT<Buffer>::LoadFrom(const CBuffer& image) {
    LoadFrom(image.Data(), image.Size());
}

template <class Buffer> void CBlobT<Buffer>::Rebuild(const unsigned char* image) {
    const std::uint32_t count = LoadLE32(image + 4);
    std::size_t dataBytes = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::size_t descriptor = LoadLE32(image + EntryPosition(i));
        if (descriptor != 0) {
            dataBytes += LoadLE32(image + descriptor);
        }
    }
    AddEmptyParts(count, dataBytes);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::size_t descriptor = LoadLE32(image + EntryPosition(i));
        if (descriptor == 0) {
            continue;
        }
        const std::size_t length = LoadLE32(image + descriptor);
        if (length != 0) {
            SetPart(i, image + LoadLE32(image + descriptor + 4), length);
        }
    }
    Store(0, LoadLE32(image));
}

template class CBlobT<CBuffer>;

} // namespace KRVN
