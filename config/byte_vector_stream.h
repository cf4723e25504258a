#pragma once
// A blob stream over a byte vector that belongs to the caller and must
// outlive the stream.

#include "config/blob_stream.h"
#include "config/buffer.h"

namespace KRVN {

class CByteVectorStream : public CBlobStream {
public:
    explicit CByteVectorStream(CBuffer* vector) noexcept : m_vector(vector) {}

    void Write(CBlobBase& blob) override { blob.WriteTo(*m_vector); }
    void Read(CBlobBase& blob) override { blob.Assign(*m_vector); }

private:
    CBuffer* m_vector;
};

} // namespace KRVN
