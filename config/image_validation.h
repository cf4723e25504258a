#pragma once
// The check that an image coming from outside (the registry) is a blob image
// whose every field stays inside its length, before any part of it is read.

#include <cstddef>

namespace KRVN {

enum class ImageStatus {
    Ok,
    TruncatedHeader,   // shorter than the tag and the count
    TooLarge,          // longer than 32-bit offsets can address
    TableBeyondEnd,    // the count asks for more offset entries than fit
    DescriptorOutside, // a descriptor lies in the header or table, or past the end
    DataOutside,       // a part's data lies in the header or table, or past the end
    EmptyPartWithData, // a part of length 0 names a data offset
    Overlap,           // two descriptors or data ranges share bytes
};

// Checks the image of length bytes. Every sum is formed in 64 bits, so no
// field can wrap around to pass.
ImageStatus ValidateImage(const void* image, std::size_t length);

} // namespace KRVN
