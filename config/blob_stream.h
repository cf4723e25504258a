#pragma once
// Moves a blob's image to or from somewhere else.

#include "config/blob_base.h"

namespace KRVN {

class CBlobStream {
public:
    virtual ~CBlobStream() = default;

    // Stores the blob's image.
    virtual void Write(CBlobBase& blob) = 0;
    // Replaces the blob's image by the stored one.
    virtual void Read(CBlobBase& blob) = 0;
};

} // namespace KRVN
