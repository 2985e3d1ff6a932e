#include <windows.h>
#include <dshow.h>

#include <gtest/gtest.h>

#include <string.h>

#include "ComStubs.h"
#include "DShowX/DSTypes.h"
#include "DebugCapture.h"

namespace {

using testsupport::CountingUnknown;

// A media type with a format block of cb bytes filled with a pattern.
AM_MEDIA_TYPE MakeType(ULONG cb, IUnknown* pUnk, BYTE bFill = 0x5A) {
    AM_MEDIA_TYPE mt;
    MTInit(&mt, MEDIATYPE_Stream, MEDIASUBTYPE_MPEG2_PROGRAM);
    mt.formattype = FORMAT_None;
    mt.pUnk = pUnk;
    mt.cbFormat = cb;
    mt.pbFormat = cb ? MTAllocFormat(cb, NULL) : NULL;
    if (cb)
        memset(mt.pbFormat, bFill, cb);
    return mt;
}

TEST(MediaTypes, AllocFormatCopiesOrZeroes) {
    const BYTE src[5] = {1, 2, 3, 4, 5};
    BYTE* pCopy = MTAllocFormat(sizeof(src), src);
    ASSERT_NE(nullptr, pCopy);
    EXPECT_EQ(0, memcmp(src, pCopy, sizeof(src)));
    BYTE* pZero = MTAllocFormat(7, NULL);
    ASSERT_NE(nullptr, pZero);
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(0, pZero[i]);
    CoTaskMemFree(pCopy);
    CoTaskMemFree(pZero);
    testsupport::ExpectAsserts expect;
    EXPECT_EQ(nullptr, MTAllocFormat(0, src));
    EXPECT_TRUE(expect.Saw("cbSource > 0"));
}

TEST(MediaTypes, DupMakesAnIndependentCopyTakingOneReference) {
    CountingUnknown unk;
    AM_MEDIA_TYPE mt = MakeType(16, &unk);
    AM_MEDIA_TYPE* pDup = MTDup(&mt);
    ASSERT_NE(nullptr, pDup);
    EXPECT_EQ(2u, unk.m_nRef.load());
    EXPECT_NE(mt.pbFormat, pDup->pbFormat);
    EXPECT_EQ(0, memcmp(mt.pbFormat, pDup->pbFormat, 16));
    mt.pbFormat[0] = 0;  // the copy does not follow the original
    EXPECT_EQ(0x5A, pDup->pbFormat[0]);
    MTFree(pDup);
    EXPECT_EQ(1u, unk.m_nRef.load());
    CoTaskMemFree(mt.pbFormat);

    AM_MEDIA_TYPE noFormat = MakeType(0, NULL);
    pDup = MTDup(&noFormat);
    ASSERT_NE(nullptr, pDup);
    EXPECT_EQ(nullptr, pDup->pbFormat);
    EXPECT_EQ(0u, pDup->cbFormat);
    MTFree(pDup);
    MTFree(NULL);
    EXPECT_EQ(nullptr, MTDup(NULL));
}

TEST(MediaTypes, InconsistentFormatFieldsAreRefusedWithoutTouchingTheDestination) {
    CountingUnknown unk;
    AM_MEDIA_TYPE sizeWithoutBlock = MakeType(0, &unk);
    sizeWithoutBlock.cbFormat = 4;
    BYTE block[4] = {0};
    AM_MEDIA_TYPE blockWithoutSize = MakeType(0, &unk);
    blockWithoutSize.pbFormat = block;

    AM_MEDIA_TYPE dst;
    memset(&dst, 0xEE, sizeof(dst));
    AM_MEDIA_TYPE before = dst;
    testsupport::ExpectAsserts expect;
    EXPECT_EQ(E_UNEXPECTED, MTCopy(&dst, &sizeWithoutBlock));
    EXPECT_EQ(E_UNEXPECTED, MTCopy(&dst, &blockWithoutSize));
    EXPECT_EQ(0, memcmp(&before, &dst, sizeof(dst)));
    EXPECT_EQ(nullptr, MTDup(&sizeWithoutBlock));
    EXPECT_EQ(1u, unk.m_nRef.load());
    EXPECT_TRUE(expect.Saw("pmt->cbFormat == 0"));
    EXPECT_TRUE(expect.Saw("pmt->cbFormat != 0"));

    BYTE* pb = reinterpret_cast<BYTE*>(1);
    EXPECT_EQ(E_INVALIDARG, MTCopyFormat(NULL, &pb));
    EXPECT_EQ(E_POINTER, MTCopyFormat(&sizeWithoutBlock, NULL));
    EXPECT_EQ(E_INVALIDARG, MTCopy(NULL, &sizeWithoutBlock));
}

TEST(MediaTypes, CMTypeOwnsItsFormatAndReference) {
    CountingUnknown unk;
    AM_MEDIA_TYPE mt = MakeType(8, &unk);
    {
        CMType cmt;
        EXPECT_FALSE(cmt.IsSet());
        ASSERT_EQ(S_OK, cmt.Set(&mt));
        EXPECT_EQ(2u, unk.m_nRef.load());
        EXPECT_TRUE(cmt.IsSet());
        EXPECT_NE(mt.pbFormat, cmt.pbFormat);
        // Setting itself changes nothing.
        BYTE* pbBefore = cmt.pbFormat;
        EXPECT_EQ(S_OK, cmt.Set(&cmt));
        EXPECT_EQ(pbBefore, cmt.pbFormat);
        EXPECT_EQ(2u, unk.m_nRef.load());
        {
            CMType copy(cmt);
            EXPECT_EQ(3u, unk.m_nRef.load());
        }
        EXPECT_EQ(2u, unk.m_nRef.load());
        // Overwriting gives the old reference back and takes the new one.
        CountingUnknown other;
        AM_MEDIA_TYPE mt2 = MakeType(3, &other, 0x11);
        EXPECT_EQ(S_OK, cmt.Set(&mt2));
        EXPECT_EQ(1u, unk.m_nRef.load());
        EXPECT_EQ(2u, other.m_nRef.load());
        EXPECT_EQ(3u, cmt.cbFormat);
        EXPECT_EQ(0x11, cmt.pbFormat[2]);
        // Null empties the object.
        EXPECT_EQ(S_OK, cmt.Set(NULL));
        EXPECT_EQ(1u, other.m_nRef.load());
        EXPECT_FALSE(cmt.IsSet());
        EXPECT_EQ(nullptr, cmt.pbFormat);
        EXPECT_EQ(nullptr, cmt.pUnk);
        CoTaskMemFree(mt2.pbFormat);
        EXPECT_EQ(S_OK, cmt.Set(&mt));
    }
    EXPECT_EQ(1u, unk.m_nRef.load());
    CoTaskMemFree(mt.pbFormat);
}

TEST(MediaTypes, FailedSetKeepsTheOldValue) {
    CountingUnknown unk, other;
    AM_MEDIA_TYPE mt = MakeType(8, &unk, 0x77);
    CMType cmt;
    ASSERT_EQ(S_OK, cmt.Set(&mt));
    BYTE* pbOld = cmt.pbFormat;

    AM_MEDIA_TYPE bad = MakeType(0, &other);
    bad.majortype = MEDIATYPE_Audio;
    bad.cbFormat = 12;  // a size without a block
    testsupport::ExpectAsserts expect;
    EXPECT_EQ(E_UNEXPECTED, cmt.Set(&bad));
    EXPECT_EQ(pbOld, cmt.pbFormat);
    EXPECT_EQ(8u, cmt.cbFormat);
    EXPECT_EQ(0x77, cmt.pbFormat[7]);
    EXPECT_EQ(&unk, cmt.pUnk);
    EXPECT_TRUE(IsEqualGUID(MEDIATYPE_Stream, cmt.majortype));
    EXPECT_EQ(2u, unk.m_nRef.load());
    EXPECT_EQ(1u, other.m_nRef.load());
    cmt.Set(NULL);
    CoTaskMemFree(mt.pbFormat);
}

TEST(MediaTypes, CMTypeHandsOutCopiesAsAListOfOne) {
    CMType cmt;
    AM_MEDIA_TYPE* pmt = reinterpret_cast<AM_MEDIA_TYPE*>(1);
    EXPECT_EQ(S_FALSE, cmt.GetAt(0, &pmt));
    EXPECT_EQ(reinterpret_cast<AM_MEDIA_TYPE*>(1), pmt);  // untouched

    AM_MEDIA_TYPE mt = MakeType(4, NULL);
    ASSERT_EQ(S_OK, cmt.Set(&mt));
    EXPECT_EQ(S_FALSE, cmt.GetAt(1, &pmt));
    ASSERT_EQ(S_OK, cmt.GetAt(0, &pmt));
    EXPECT_NE(cmt.pbFormat, pmt->pbFormat);
    MTFree(pmt);
    ASSERT_EQ(S_OK, cmt.Dup(&pmt));
    MTFree(pmt);
    testsupport::ExpectAsserts expect;
    EXPECT_EQ(E_POINTER, cmt.Dup(NULL));
    EXPECT_EQ(E_POINTER, cmt.GetAt(0, NULL));
    EXPECT_TRUE(expect.Saw("ppmt != NULL"));
    CoTaskMemFree(mt.pbFormat);
}

}  // namespace
