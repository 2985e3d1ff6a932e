// CBlob: committed memory that is reused while large enough.
#include <windows.h>

#include <gtest/gtest.h>

#include "DebugCapture.h"
#include "WinAPI/Blob.h"

TEST(BlobTest, AllocatesFillsAndReuses) {
    CBlob blob;
    EXPECT_FALSE(blob.IsValid());
    EXPECT_EQ(S_OK, blob.AllocMem(5000, TRUE, 0xAB));
    EXPECT_TRUE(blob.IsValid());
    EXPECT_EQ(5000u, blob.Size());
    EXPECT_EQ(8192u, blob.Capacity());
    BYTE* pb = blob.Offset(0);
    ASSERT_TRUE(pb != NULL);
    EXPECT_EQ(0xAB, pb[0]);
    EXPECT_EQ(0xAB, pb[4999]);
    EXPECT_EQ(pb + 4999, blob.Offset(4999));

    // Smaller, then as large as the capacity: the same memory.
    EXPECT_EQ(S_OK, blob.AllocMem(100));
    EXPECT_EQ(pb, blob.Offset(0));
    EXPECT_EQ(0xAB, pb[99]);  // no fill asked for
    EXPECT_EQ(S_OK, blob.AllocMem(8192, TRUE, 1));
    EXPECT_EQ(pb, blob.Offset(0));
    EXPECT_EQ(1, pb[8191]);

    // Emptied, the memory stays for the next request.
    blob.Empty();
    EXPECT_FALSE(blob.IsValid());
    EXPECT_EQ(S_OK, blob.AllocMem(4096));
    EXPECT_EQ(pb, blob.Offset(0));

    // Larger: new memory, rounded to whole pages.
    EXPECT_EQ(S_OK, blob.AllocMem(8193, TRUE, 2));
    EXPECT_EQ(12288u, blob.Capacity());
    EXPECT_EQ(2, blob.Offset(8192)[0]);
}

TEST(BlobTest, OffsetPastTheSizeIsNull) {
    CBlob blob;
    EXPECT_TRUE(blob.Offset(0) == NULL);  // empty: no report for offset 0
    ASSERT_EQ(S_OK, blob.AllocMem(10));
    testsupport::ExpectAsserts asserts;
    EXPECT_TRUE(blob.Offset(10) == NULL);
    EXPECT_TRUE(asserts.Saw("m_blobData.cbData > _dwOffset || _dwOffset == NULL"));
}

TEST(BlobTest, ImpossibleSizeLeavesItEmpty) {
    CBlob blob;
    ASSERT_EQ(S_OK, blob.AllocMem(4096));
    // Rounding up 0xFFFFFFFF to whole pages must not wrap around to 0.
    EXPECT_EQ(E_OUTOFMEMORY, blob.AllocMem(0xFFFFFFFF));
    EXPECT_FALSE(blob.IsValid());
    EXPECT_EQ(0u, blob.Capacity());
    EXPECT_TRUE(blob.Offset(0) == NULL);
}
