#include "config/image_validation.h"

#include "config/little_endian.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace KRVN {

namespace {

struct Range {
    std::uint64_t begin;
    std::uint64_t end;
};

} // namespace

ImageStatus ValidateImage(const void* image, std::size_t length) {
    constexpr std::uint64_t kHeaderSize = 8;
    constexpr std::uint64_t kDescriptorSize = 8;
    if (image == nullptr || length < kHeaderSize) {
        return ImageStatus::TruncatedHeader;
    }
    if (static_cast<std::uint64_t>(length) > 0xFFFFFFFFu) {
        return ImageStatus::TooLarge;
    }
    const auto* bytes = static_cast<const unsigned char*>(image);
    const std::uint64_t size = length;
    const std::uint32_t count = LoadLE32(bytes + 4);
    const std::uint64_t tableEnd = kHeaderSize + 4 * static_cast<std::uint64_t>(count);
    if (tableEnd > size) {
        return ImageStatus::TableBeyondEnd;
    }

    std::vector<Range> ranges;
    ranges.reserve(2 * static_cast<std::size_t>(count));
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint64_t descriptor = LoadLE32(bytes + kHeaderSize + 4 * std::uint64_t{i});
        if (descriptor == 0) {
            continue;
        }
        if (descriptor < tableEnd || descriptor + kDescriptorSize > size) {
            return ImageStatus::DescriptorOutside;
        }
        ranges.push_back({descriptor, descriptor + kDescriptorSize});
        const std::uint64_t partLength = LoadLE32(bytes + descriptor);
        const std::uint64_t data = LoadLE32(bytes + descriptor + 4);
        if (partLength == 0) {
            if (data != 0) {
                return ImageStatus::EmptyPartWithData;
            }
            continue;
        }
        if (data < tableEnd || data + partLength > size) {
            return ImageStatus::DataOutside;
        }
        ranges.push_back({data, data + partLength});
    }

    std::sort(ranges.begin(), ranges.end(),
              [](const Range& a, const Range& b) { return a.begin < b.begin; });
    for (std::size_t i = 1; i < ranges.size(); ++i) {
        if (ranges[i].begin < ranges[i - 1].end) {
            return ImageStatus::Overlap;
        }
    }
    return ImageStatus::Ok;
}

} // namespace KRVN
