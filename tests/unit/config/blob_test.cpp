#include "common/ca_exception.h"
#include "config/byte_vector_stream.h"
#include "config/typed_blob_part.h"
#include "image_bytes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace KRVN;

namespace {

// Writing compacts: an lvalue blob is changed by it.
template <class Blob> Bytes ImageOf(Blob&& blob) {
    CBuffer image;
    blob.WriteTo(image);
    return ToBytes(image);
}

std::string PartText(const CBlobBase& blob, std::uint32_t index) {
    const unsigned char* data = nullptr;
    std::size_t length = 0;
    blob.GetPart(index, data, length);
    return std::string(reinterpret_cast<const char*>(data), length);
}

// A blob built by setting each part in index order.
CTypedBlob BuiltInOrder(const std::vector<std::string>& parts) {
    CTypedBlob blob;
    for (std::uint32_t i = 0; i < parts.size(); ++i)
        blob.SetPart(i, parts[i].data(), parts[i].size());
    return blob;
}

} // namespace

TEST(CBlobT, NewBlobWritesTagAndZeroCount) {
    CTypedBlob blob;
    EXPECT_EQ(Words({0x300, 0}), ImageOf(blob));
}

TEST(CBlobT, ServerListOfNoServersIsTheKnown68ByteImage) {
    CTypedBlob blob;
    GetPartValue(blob, 0)->SetWString(KRVN_WTEXT("alrm_4.2"));
    GetPartValue(blob, 1)->SetInt(0);
    EXPECT_EQ(EmptyServerListImage(), ImageOf(blob));
}

TEST(CBlobT, LoadFromGroupsDescriptorsThenDataAndKeepsTag) {
    Bytes source = EmptyServerListImage();
    source[0] = 0x01; // a tag of another writer
    CTypedBlob blob(source.data(), source.size());

    Bytes expected = Words({0x301, 2, 16, 24, 24, 32, 12, 56, 16, 8});
    AddUtf16(expected, "alrm_4.2");
    AddWords(expected, {4, 3, 0});
    EXPECT_EQ(expected, ImageOf(blob));
    EXPECT_EQ(KRVN_WTEXT("alrm_4.2"), GetPartValue(blob, 0)->GetWString());
    EXPECT_EQ(0, GetPartValue(blob, 1)->GetInt());

    // The data of part 1 follows that of part 0 directly: emptying part 0 moves it down.
    blob.SetPart(0, nullptr, 0);
    EXPECT_EQ(0, GetPartValue(blob, 1)->GetInt());
    EXPECT_EQ(Words({0x301, 1, 12, 12, 20, 4, 3, 0}), ImageOf(blob));
}

TEST(CBlobT, EditsInPlaceGiveTheImageOfADirectBuild) {
    CTypedBlob blob = BuiltInOrder({"first", "second", "third"});
    blob.SetPart(1, "a much longer second", 20);
    EXPECT_EQ(ImageOf(BuiltInOrder({"first", "a much longer second", "third"})), ImageOf(blob));
    blob.SetPart(0, "1", 1);
    EXPECT_EQ(ImageOf(BuiltInOrder({"1", "a much longer second", "third"})), ImageOf(blob));

    // An emptied part keeps its index until the next compaction.
    blob.SetPart(1, nullptr, 0);
    EXPECT_EQ(3u, blob.PartCount());
    EXPECT_EQ("third", PartText(blob, 2));
    EXPECT_EQ(ImageOf(BuiltInOrder({"1", "third"})), ImageOf(blob));
    EXPECT_EQ(2u, blob.PartCount());
}

TEST(CBlobT, SettingPart3OfAnEmptyBlobCreatesEmptyPartsBelowIt) {
    CTypedBlob blob;
    blob.SetPart(3, "x", 1);
    EXPECT_EQ(4u, blob.PartCount());
    EXPECT_EQ("", PartText(blob, 0));
    EXPECT_EQ("x", PartText(blob, 3));
    Bytes expected = Words({0x300, 1, 12, 1, 20});
    expected.push_back('x');
    EXPECT_EQ(expected, ImageOf(blob));
}

TEST(CBlobT, RemoveAndAppendRenumberParts) {
    CTypedBlob blob = BuiltInOrder({"a", "bb", "ccc"});
    blob.RemovePart(0);
    blob.AppendPart("dddd", 4);
    blob.RemovePart(7);
    EXPECT_EQ(ImageOf(BuiltInOrder({"bb", "ccc", "dddd"})), ImageOf(blob));
    // The source's own bytes may be handed back in.
    const unsigned char* data = nullptr;
    std::size_t length = 0;
    blob.GetPart(2, data, length);
    blob.SetPart(0, data, length);
    EXPECT_EQ("dddd", PartText(blob, 0));
    EXPECT_EQ("ccc", PartText(blob, 1));
}

TEST(CBlobT, CopyToCopiesOnlyIntoABufferLargeEnough) {
    CTypedBlob blob(EmptyServerListImage().data(), 68);
    std::vector<unsigned char> target(100, 0xEE);
    std::size_t size = 67;
    blob.CopyTo(target.data(), size);
    EXPECT_EQ(67u, size);
    EXPECT_EQ(std::vector<unsigned char>(100, 0xEE), target);
    size = target.size();
    blob.CopyTo(target.data(), size);
    ASSERT_EQ(68u, size);
    EXPECT_EQ(ImageOf(blob), Bytes(target.begin(), target.begin() + 68));
}

TEST(CBlobT, AssignKeepsTheLayoutAndEditsFollowItsOffsets) {
    // The descriptor of part 0 lies behind its data, part 1 has no descriptor and
    // there is a gap: legal, though no writer of ours lays images out so.
    Bytes image = Words({0x300, 3, 28, 0, 40, 0xAAAAAAAAu});
    image.insert(image.end(), {'o', 'l', 'd', '!'});
    AddWords(image, {4, 24, 0, 2, 48});
    image.insert(image.end(), {'h', 'i'});
    CTypedBlob blob;
    CBuffer vector(image.data(), image.size());
    CByteVectorStream(&vector).Read(blob);
    EXPECT_EQ("old!", PartText(blob, 0));
    EXPECT_EQ("", PartText(blob, 1));
    EXPECT_EQ("hi", PartText(blob, 2));

    blob.SetPart(0, "longer!!", 8);
    blob.SetPart(2, "h", 1);
    EXPECT_EQ("longer!!", PartText(blob, 0));
    EXPECT_EQ("h", PartText(blob, 2));
    // Writing drops the part without a descriptor.
    CByteVectorStream(&vector).Write(blob);
    CTypedBlob reread(vector.Data(), vector.Size());
    EXPECT_EQ(2u, reread.PartCount());
    EXPECT_EQ("longer!!", PartText(reread, 0));
    EXPECT_EQ("h", PartText(reread, 1));

    // Data right behind the offset table moves when the table grows.
    Bytes dataFirst = Words({0x300, 1, 14});
    dataFirst.insert(dataFirst.end(), {'h', 'i'});
    AddWords(dataFirst, {2, 12});
    CTypedBlob grown;
    grown.Assign(dataFirst.data(), dataFirst.size());
    grown.SetPart(2, "x", 1);
    EXPECT_EQ("hi", PartText(grown, 0));
    EXPECT_EQ("x", PartText(grown, 2));

    // A value written to the part without descriptor is kept.
    CTypedBlob other;
    other.Assign(image.data(), image.size());
    other.SetPart(1, "mid", 3);
    EXPECT_EQ("mid", PartText(other, 1));
    EXPECT_EQ("old!", PartText(other, 0));
    EXPECT_EQ("hi", PartText(other, 2));
}

TEST(CBlobT, BytesBehindAnAssignedImageNeverShowInNewParts) {
    Bytes image = Words({0x300, 0});
    image.insert(image.end(), 40, 0xCC);
    CTypedBlob blob;
    blob.Assign(image.data(), image.size());
    blob.SetPart(1, nullptr, 4);
    const unsigned char* data = nullptr;
    std::size_t length = 0;
    blob.GetPart(1, data, length);
    ASSERT_EQ(4u, length);
    EXPECT_EQ(0, std::memcmp(data, "\0\0\0\0", 4));
    EXPECT_EQ(Words({0x300, 1, 12, 4, 20, 0}), ImageOf(blob));
}

TEST(CTypedBlobPartT, ViewReadsExactlyWhatWasSetAndAbsentPartsRaise) {
    CTypedBlob blob;
    const CountedPtr<CValue> port = GetPartValue(blob, 2);
    port->SetWString(KRVN_WTEXT("7001"));
    const unsigned char password[] = {'p', 0};
    GetPartValue(blob, 1)->SetBlob(password, 2);
    EXPECT_EQ(KRVN_WTEXT("7001"), port->GetWString());
    EXPECT_EQ(KRVN_WTEXT("2"), port->GetName());
    EXPECT_EQ(eBlob, GetPartValue(blob, 1)->GetType());
    EXPECT_THROW(GetPartValue(blob, 1)->GetWString(), CAException);
    EXPECT_THROW(GetPartValue(blob, 0)->GetInt(), CAException);
    EXPECT_THROW(GetPartValue(blob, 3)->GetInt(), CAException);
    EXPECT_EQ(3u, blob.PartCount());
}

TEST(CBlobPart, UntypedFaceUsesALengthHeader) {
    CTypedBlob blob = BuiltInOrder({"ab", "cd"});
    CBlobPart part(blob, 1);
    CBuffer form;
    part.WriteTo(form);
    Bytes expected = Words({2, 0});
    expected.insert(expected.end(), {'c', 'd'});
    EXPECT_EQ(expected, ToBytes(form));

    Bytes replacement = Words({3, 0});
    replacement.insert(replacement.end(), {'x', 'y', 'z'});
    part.Assign(replacement.data(), replacement.size());
    EXPECT_EQ("xyz", PartText(blob, 1));
    // A header claiming more bytes than follow it is refused.
    replacement[0] = 4;
    EXPECT_THROW(part.Assign(replacement.data(), replacement.size()), CAException);
    EXPECT_EQ("xyz", PartText(blob, 1));
}
