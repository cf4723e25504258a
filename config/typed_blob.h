#pragma once
// A blob whose every part holds one serialized typed value; GetPartValue
// (typed_blob_part.h) hands a part out as a CValue.

#include "config/blob.h"
#include "config/buffer.h"

namespace KRVN {

template <class Buffer> class CTypedBlobT : public CBlobT<Buffer> {
public:
    using CBlobT<Buffer>::CBlobT;
};

using CTypedBlob = CTypedBlobT<CBuffer>;

} // namespace KRVN
