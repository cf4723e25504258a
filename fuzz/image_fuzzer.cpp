// Feeds arbitrary bytes to the server-list image code: the validation, the
// checked load, typed reads of every part, edits in place and the written
// image, which must validate and read back as the edits left it.
//
// Bytes behind an image's used end are part of a valid image but never read
// by it; the fuzzer takes its edits from there.

#include "common/ca_exception.h"
#include "config/image_validation.h"
#include "config/little_endian.h"
#include "config/typed_blob_part.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

using namespace KRVN;

namespace {

using Part = std::vector<unsigned char>;

constexpr std::size_t kMaxEdits = 16;
constexpr std::uint32_t kMaxTypedReads = 256;

void Require(bool condition) {
    if (!condition)
        std::abort();
}

Part PartOf(const CBlobBase& blob, std::uint32_t index) {
    const unsigned char* data = nullptr;
    std::size_t length = 0;
    blob.GetPart(index, data, length);
    return Part(data, data + length);
}

// The parts of a valid image, read through its own offsets, and the end of
// the bytes it uses.
std::vector<Part> ReadParts(const unsigned char* image, std::size_t& usedEnd) {
    const std::uint32_t count = LoadLE32(image + 4);
    usedEnd = 8 + 4 * std::size_t{count};
    std::vector<Part> parts(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::size_t descriptor = LoadLE32(image + 8 + 4 * std::size_t{i});
        if (descriptor == 0)
            continue;
        usedEnd = std::max(usedEnd, descriptor + 8);
        const std::size_t length = LoadLE32(image + descriptor);
        const std::size_t data = LoadLE32(image + descriptor + 4);
        if (length != 0) {
            usedEnd = std::max(usedEnd, data + length);
            parts[i].assign(image + data, image + data + length);
        }
    }
    return parts;
}

struct Getter {
    ValueType type;
    void (*read)(const CValue&);
};

const Getter kGetters[] = {
    {eLong, [](const CValue& v) { v.GetLong(); }},
    {eULong, [](const CValue& v) { v.GetULong(); }},
    {eInt, [](const CValue& v) { v.GetInt(); }},
    {eUInt, [](const CValue& v) { v.GetUInt(); }},
    {eBool, [](const CValue& v) { v.GetBool(); }},
    {eFloat, [](const CValue& v) { v.GetFloat(); }},
    {eDouble, [](const CValue& v) { v.GetDouble(); }},
    {eWString, [](const CValue& v) { v.GetWString(); }},
    {eAString, [](const CValue& v) { v.GetAString(); }},
    {eBlob, [](const CValue& v) { v.GetBlob(); }},
    {eUShort, [](const CValue& v) { v.GetUShort(); }},
    {eUChar, [](const CValue& v) { v.GetUChar(); }},
    {eULongPtr, [](const CValue& v) { v.GetULongPtr(); }},
};

// Every getter raises E_INVALIDARG exactly when the part does not hold a
// value of its type.
void CheckTypedReads(CTypedBlob& blob, std::uint32_t index) {
    const CountedPtr<CValue> value = GetPartValue(blob, index);
    const bool holdsValue = value->GetRawSize() >= CValue::kHeaderSize;
    const ValueType type = value->GetType();
    Require(holdsValue || type == eVoid);
    Require(!value->ToString().empty());
    for (const Getter& getter : kGetters) {
        bool raised = false;
        try {
            getter.read(*value);
        } catch (const CAException& e) {
            Require(e.Code() == kE_INVALIDARG);
            raised = true;
        }
        Require(raised == (!holdsValue || type != getter.type));
    }
}

Part Payload(unsigned char seed) {
    Part part(seed % 40);
    for (std::size_t i = 0; i < part.size(); ++i)
        part[i] = static_cast<unsigned char>(seed + i);
    return part;
}

void RequireParts(const CBlobT<CBuffer>& blob, const std::vector<Part>& expected) {
    Require(blob.PartCount() == expected.size());
    for (std::uint32_t i = 0; i < expected.size(); ++i)
        Require(PartOf(blob, i) == expected[i]);
}

// Applies the edits encoded in ops to the blob and to a plain model of its
// parts; after each, the blob must read as the model.
void Edit(CTypedBlob& blob, std::vector<Part>& model, const unsigned char* ops, std::size_t size) {
    for (std::size_t i = 0; i + 3 <= size && i < 3 * kMaxEdits; i += 3) {
        const auto index = static_cast<std::uint32_t>(ops[i + 1] % (model.size() + 3));
        const Part part = Payload(ops[i + 2]);
        switch (ops[i] % 4) {
        case 0:
            blob.SetPart(index, part.data(), part.size());
            if (index >= model.size())
                model.resize(index + 1);
            model[index] = part;
            break;
        case 1:
            blob.RemovePart(index);
            if (index < model.size())
                model.erase(model.begin() + index);
            break;
        case 2:
            blob.AppendPart(part.data(), part.size());
            model.push_back(part);
            break;
        default:
            blob.SetPart(index, nullptr, 0);
            if (index >= model.size())
                model.resize(index + 1);
            model[index].clear();
            break;
        }
        RequireParts(blob, model);
    }
}

// Writes the blob; the image must be valid, keep the tag and hold the
// model's non-empty parts in order.
CBuffer WriteAndCheck(CTypedBlob& blob, const std::vector<Part>& model, std::uint32_t tag) {
    CBuffer image;
    blob.WriteTo(image);
    Require(ValidateImage(image.Data(), image.Size()) == ImageStatus::Ok);
    Require(LoadLE32(image.Data()) == tag);
    std::vector<Part> kept;
    for (const Part& part : model)
        if (!part.empty())
            kept.push_back(part);
    RequireParts(CTypedBlob(image.Data(), image.Size()), kept);

    std::vector<unsigned char> copy(image.Size());
    std::size_t size = copy.size();
    blob.CopyTo(copy.data(), size);
    Require(size == image.Size() && CBuffer(copy.data(), size) == image);
    return image;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const bool valid = ValidateImage(data, size) == ImageStatus::Ok;
    CTypedBlob loaded;
    CTypedBlob assigned;
    try {
        loaded.LoadFrom(data, size);
    } catch (const CAException& e) {
        Require(!valid && e.Code() == kE_INVALIDARG);
        bool refused = false;
        try {
            assigned.Assign(data, size);
        } catch (const CAException&) {
            refused = true;
        }
        Require(refused);
        return 0;
    }
    Require(valid);
    assigned.Assign(data, size);

    std::size_t usedEnd = 0;
    std::vector<Part> model = ReadParts(data, usedEnd);
    RequireParts(loaded, model);
    RequireParts(assigned, model);
    const std::uint32_t count = loaded.PartCount();
    for (std::uint32_t i = 0; i <= count && i < kMaxTypedReads; ++i)
        CheckTypedReads(loaded, i);

    // A written image loads to one that writes the same bytes again.
    const std::uint32_t tag = LoadLE32(data);
    const CBuffer written = WriteAndCheck(loaded, model, tag);
    CTypedBlob reloaded(written.Data(), written.Size());
    CBuffer rewritten;
    reloaded.WriteTo(rewritten);
    Require(rewritten == written);

    Edit(assigned, model, data + usedEnd, size - usedEnd);
    WriteAndCheck(assigned, model, tag);
    return 0;
}
