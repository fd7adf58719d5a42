#include <gtest/gtest.h>

#include "imaging/Bitmap.h"
#include "imaging/Exceptions.h"
#include "imaging/Stream.h"

TEST(Stream, MemoryReadsAndShortReadThrows) {
    const uint8_t data[] = {1, 2, 3, 4, 5};
    TMemoryStream s(data, sizeof data);
    EXPECT_EQ(s.ReadU16LE(), 0x0201);
    EXPECT_EQ(s.ReadU16BE(), 0x0304);
    EXPECT_EQ(s.Remaining(), 1);
    uint8_t buf[4];
    EXPECT_THROW(s.ReadBuffer(buf, 4), EReadError);
    s.SetPosition(100);
    EXPECT_EQ(s.Remaining(), 0);
    EXPECT_EQ(s.Read(buf, 4), 0);
    EXPECT_THROW(s.Seek(-1, TSeekOrigin::soBeginning), EReadError);
}

TEST(Stream, BoundedReadsNeverAllocateBeyondTheStream) {
    const uint8_t data[] = {1, 2, 3, 4, 5, 6, 7};
    TMemoryStream s(data, sizeof data);
    s.SetPosition(1);
    // A length from a file larger than what is left fails before anything is allocated.
    EXPECT_THROW(s.ReadBytes(int64_t(1) << 60), EReadError);
    EXPECT_THROW(s.ReadBytes(-1), EReadError);
    EXPECT_THROW(s.ReadU32Table(int64_t(1) << 61, false), EReadError);
    EXPECT_EQ(s.Position(), 1);
    EXPECT_EQ(s.ReadBytes(2), (std::vector<uint8_t>{2, 3}));
    EXPECT_EQ(s.ReadU16Table(1, true), (std::vector<uint16_t>{0x0405}));
    EXPECT_EQ(s.ReadU16Table(1, false), (std::vector<uint16_t>{0x0706}));
    s.SetPosition(3);
    EXPECT_EQ(s.ReadU32Table(1, true), (std::vector<uint32_t>{0x04050607}));
    s.SetPosition(5);
    // A short read gives what arrived and nothing more.
    EXPECT_EQ(s.ReadAvailable(int64_t(1) << 40), (std::vector<uint8_t>{6, 7}));
    EXPECT_TRUE(s.ReadAvailable(4).empty());
}

TEST(Stream, PeekBytesRestoresThePosition) {
    const uint8_t data[] = {1, 2, 3, 4, 5};
    TMemoryStream s(data, sizeof data);
    const struct {
        int64_t position, count, minRemaining;
        std::vector<uint8_t> expected;
    } cases[] = {{1, 2, 0, {2, 3}}, {1, 4, 4, {2, 3, 4, 5}}, {1, 2, 5, {}},
                 {4, 2, 0, {}},     {9, 1, 0, {}},           {0, 0, 0, {}}};
    for (const auto& c : cases) {
        s.SetPosition(c.position);
        EXPECT_EQ(s.PeekBytes(c.count, c.minRemaining), c.expected) << c.position << " " << c.count;
        EXPECT_EQ(s.Position(), c.position);
    }
}

TEST(Stream, MemoryWriteGrows) {
    TMemoryStream s;
    s.WriteBuffer("abc", 3);
    s.Seek(5, TSeekOrigin::soBeginning);
    s.WriteBuffer("z", 1);
    EXPECT_EQ(s.Size(), 6);
    EXPECT_EQ(s.Memory()[5], 'z');
    EXPECT_EQ(s.Memory()[3], 0);
}

TEST(Bitmap, RowsAreAlignedAndLimitIsChecked) {
    TBitmap b;
    b.SetPixelFormat(pf1bit);
    b.SetSize(33, 2);
    EXPECT_EQ(b.RowStride(), 8);
    b.SetPixelFormat(pf24bit);
    EXPECT_EQ(b.RowStride(), 100);
    const uint64_t old = TBitmap::MaxPixels();
    TBitmap::SetMaxPixels(1000);
    EXPECT_THROW(b.SetSize(100, 11), EInvalidGraphic);
    EXPECT_EQ(b.Width(), 33);
    TBitmap::SetMaxPixels(old);
    EXPECT_THROW(TBitmap::CheckSize(100000, 100000), EInvalidGraphic);
}
