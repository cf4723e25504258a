#include "common/ca_exception.h"
#include "config/byte_vector_stream.h"
#include "config/image_validation.h"
#include "config/typed_blob.h"
#include "image_bytes.h"

#include <gtest/gtest.h>

using namespace KRVN;

namespace {

ImageStatus Check(const Bytes& image) {
    return ValidateImage(image.data(), image.size());
}

// A two-part image laid out in index order: "ab" then "cde".
Bytes TwoParts() {
    Bytes image = Words({0x300, 2, 16, 26, 2, 24});
    image.insert(image.end(), {'a', 'b'});
    AddWords(image, {3, 34});
    image.insert(image.end(), {'c', 'd', 'e'});
    return image;
}

void Put(Bytes& image, std::size_t offset, std::uint32_t word) {
    for (int i = 0; i < 4; ++i)
        image[offset + i] = static_cast<unsigned char>(word >> (8 * i));
}

} // namespace

TEST(ValidateImage, AcceptsImagesOfEveryWriter) {
    EXPECT_EQ(ImageStatus::Ok, Check(TwoParts()));
    EXPECT_EQ(ImageStatus::Ok, Check(EmptyServerListImage()));
    EXPECT_EQ(ImageStatus::Ok, Check(Words({0x300, 0})));
    EXPECT_EQ(ImageStatus::Ok, Check(Words({0x300, 0, 0})));
    // A part without descriptor and an empty part with one.
    EXPECT_EQ(ImageStatus::Ok, Check(Words({0x300, 2, 0, 16, 0, 0})));
}

TEST(ValidateImage, RejectsHeaderAndTableBeyondTheEnd) {
    const Bytes image = TwoParts();
    for (std::size_t length = 0; length < 8; ++length)
        EXPECT_EQ(ImageStatus::TruncatedHeader, ValidateImage(image.data(), length));
    EXPECT_EQ(ImageStatus::TruncatedHeader, ValidateImage(nullptr, 100));
    EXPECT_EQ(ImageStatus::TableBeyondEnd, Check(Words({0x300, 1})));
    EXPECT_EQ(ImageStatus::TableBeyondEnd, Check(Words({0x300, 3, 0, 0})));
    EXPECT_EQ(ImageStatus::TableBeyondEnd, Check(Words({0x300, 0xFFFFFFFFu, 0})));
    EXPECT_EQ(ImageStatus::TableBeyondEnd, Check(Words({0x300, 0x40000000u, 0})));
}

TEST(ValidateImage, RejectsDescriptorsAndDataOutsideTheImage) {
    const Bytes good = TwoParts();
    const std::size_t end = good.size();
    struct Case {
        std::size_t offset;
        std::uint32_t word;
        ImageStatus expected;
    };
    const Case cases[] = {
        {12, static_cast<std::uint32_t>(end - 4), ImageStatus::DescriptorOutside},
        {12, 0xFFFFFFFCu, ImageStatus::DescriptorOutside}, // wraps in 32 bits
        {8, 4, ImageStatus::DescriptorOutside},            // inside the header
        {8, 12, ImageStatus::DescriptorOutside},           // inside the table
        {26, 4, ImageStatus::DataOutside},                 // "cde" grown by one byte
        {26, 0xFFFFFFFFu, ImageStatus::DataOutside},       // wraps in 32 bits
        {30, 0xFFFFFFFEu, ImageStatus::DataOutside},
        {20, 8, ImageStatus::DataOutside}, // data inside the table
        {16, 0, ImageStatus::EmptyPartWithData},
        {12, 16, ImageStatus::Overlap}, // both parts share one descriptor
        {20, 20, ImageStatus::Overlap}, // part 0's data over its descriptor
        {30, 25, ImageStatus::Overlap}, // part 1's data over part 0's
    };
    for (const Case& c : cases) {
        Bytes image = good;
        Put(image, c.offset, c.word);
        EXPECT_EQ(c.expected, Check(image)) << "word " << c.word << " at " << c.offset;
    }
}

TEST(ValidateImage, MalformedImagesAreRefusedWithInvalidArgAndChangeNothing) {
    CTypedBlob blob;
    blob.AppendPart("kept", 4);
    CBuffer before;
    CTypedBlob(blob).WriteTo(before);

    Bytes bad = TwoParts();
    Put(bad, 26, 0x1000);
    try {
        blob.LoadFrom(bad.data(), bad.size());
        FAIL() << "malformed image loaded";
    } catch (const CAException& e) {
        EXPECT_EQ(static_cast<std::int32_t>(0x80070057u), e.Code());
    }
    EXPECT_THROW(blob.Assign(bad.data(), bad.size()), CAException);
    CBuffer vector(bad.data(), 5);
    EXPECT_THROW(CByteVectorStream(&vector).Read(blob), CAException);
    EXPECT_THROW(CTypedBlob(bad.data(), bad.size()), CAException);

    CBuffer after;
    blob.WriteTo(after);
    EXPECT_EQ(before, after);
}

TEST(ValidateImage, PartsAtOrBeyondTheCountAreAbsent) {
    // The table holds three entries but the count says one.
    Bytes image = Words({0x300, 1, 20, 20, 20, 1, 28});
    image.push_back('z');
    ASSERT_EQ(ImageStatus::Ok, Check(image));
    CTypedBlob blob;
    blob.Assign(image.data(), image.size());
    const unsigned char* data = nullptr;
    std::size_t length = 5;
    blob.GetPart(1, data, length);
    EXPECT_EQ(nullptr, data);
    EXPECT_EQ(0u, length);
    blob.GetPart(0xFFFFFFFFu, data, length);
    EXPECT_EQ(nullptr, data);
    blob.GetPart(0, data, length);
    EXPECT_EQ(1u, length);
}
