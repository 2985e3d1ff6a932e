#include <windows.h>
#include <dshow.h>

#include <gtest/gtest.h>

#include <stddef.h>
#include <string.h>

#include "DShowX/DSAllocators.h"
#include "DShowX/DSTypes.h"
#include "DebugCapture.h"

namespace {

class MediaSample : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, CreateMemoryAllocator(&m_pAlloc));
        ALLOCATOR_PROPERTIES req = {2, 100, 4, 0}, act;
        ASSERT_EQ(S_OK, m_pAlloc->SetProperties(&req, &act));
        ASSERT_EQ(S_OK, m_pAlloc->Commit());
        IMediaSample* pSample = NULL;
        ASSERT_EQ(S_OK, m_pAlloc->GetBuffer(&pSample, NULL, NULL, 0));
        ASSERT_EQ(S_OK, pSample->QueryInterface(IID_IMediaSample2, reinterpret_cast<void**>(&m_pSample)));
        pSample->Release();
    }
    void TearDown() override {
        if (m_pSample) {
            EXPECT_EQ(0u, m_pSample->Release());
        }
        m_pAlloc->Decommit();
        EXPECT_EQ(0u, m_pAlloc->Release());
    }
    AM_SAMPLE2_PROPERTIES Props() {
        AM_SAMPLE2_PROPERTIES props;
        EXPECT_EQ(S_OK, m_pSample->GetProperties(sizeof(props), reinterpret_cast<BYTE*>(&props)));
        return props;
    }

    IMemAllocator* m_pAlloc = NULL;
    IMediaSample2* m_pSample = NULL;
};

TEST_F(MediaSample, AnswersItsTwoInterfacesWithOnePointer) {
    IMediaSample* p1 = NULL;
    IUnknown* pUnk = NULL;
    ASSERT_EQ(S_OK, m_pSample->QueryInterface(IID_IMediaSample, reinterpret_cast<void**>(&p1)));
    ASSERT_EQ(S_OK, m_pSample->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&pUnk)));
    EXPECT_EQ(static_cast<IMediaSample*>(m_pSample), p1);
    EXPECT_EQ(static_cast<IUnknown*>(p1), pUnk);
    void* pv = NULL;
    EXPECT_EQ(E_NOINTERFACE, m_pSample->QueryInterface(IID_IMemAllocator, &pv));
    p1->Release();
    pUnk->Release();
}

TEST_F(MediaSample, StreamTimes) {
    REFERENCE_TIME t1 = 0, t2 = 0;
    EXPECT_EQ(VFW_E_SAMPLE_TIME_NOT_SET, m_pSample->GetTime(&t1, &t2));
    REFERENCE_TIME start = 500, stop = 500;
    EXPECT_EQ(S_OK, m_pSample->SetTime(&start, &stop));  // equal times are fine
    EXPECT_EQ(S_OK, m_pSample->GetTime(&t1, &t2));
    EXPECT_EQ(500, t1);
    EXPECT_EQ(500, t2);
    EXPECT_EQ(S_OK, m_pSample->SetTime(&start, NULL));
    EXPECT_EQ(VFW_S_NO_STOP_TIME, m_pSample->GetTime(&t1, &t2));
    EXPECT_EQ(501, t2);
    {
        testsupport::ExpectAsserts expect;
        REFERENCE_TIME early = 499;
        EXPECT_EQ(E_INVALIDARG, m_pSample->SetTime(&start, &early));
        EXPECT_TRUE(expect.Saw("*pTimeEnd >= *pTimeStart"));
        EXPECT_EQ(VFW_S_NO_STOP_TIME, m_pSample->GetTime(&t1, &t2));  // unchanged
        EXPECT_EQ(E_INVALIDARG, m_pSample->GetTime(NULL, &t2));
    }
    EXPECT_EQ(S_OK, m_pSample->SetTime(NULL, NULL));
    EXPECT_EQ(VFW_E_SAMPLE_TIME_NOT_SET, m_pSample->GetTime(&t1, &t2));
}

TEST_F(MediaSample, MediaTimesRefuseAnEmptyRange) {
    LONGLONG m1 = 7, m2 = 7;
    EXPECT_EQ(VFW_E_MEDIA_TIME_NOT_SET, m_pSample->GetMediaTime(&m1, &m2));
    EXPECT_EQ(0, m1);
    EXPECT_EQ(0, m2);
    LONGLONG a = 10, b = 10;
    {
        testsupport::ExpectAsserts expect;
        EXPECT_EQ(E_INVALIDARG, m_pSample->SetMediaTime(&a, &b));
        EXPECT_EQ(E_INVALIDARG, m_pSample->SetMediaTime(&a, NULL));
        EXPECT_EQ(2u, expect.Count());
    }
    b = 11;
    EXPECT_EQ(S_OK, m_pSample->SetMediaTime(&a, &b));
    EXPECT_EQ(S_OK, m_pSample->GetMediaTime(&m1, &m2));
    EXPECT_EQ(10, m1);
    EXPECT_EQ(11, m2);
    // The private flag never shows.
    EXPECT_EQ(0u, Props().dwSampleFlags & SAMPLE_MEDIATIMEVALID);
    EXPECT_EQ(S_OK, m_pSample->SetMediaTime(NULL, NULL));
    EXPECT_EQ(VFW_E_MEDIA_TIME_NOT_SET, m_pSample->GetMediaTime(&m1, &m2));
}

TEST_F(MediaSample, FlagsAndLengths) {
    EXPECT_EQ(S_FALSE, m_pSample->IsSyncPoint());
    EXPECT_EQ(S_OK, m_pSample->SetSyncPoint(TRUE));
    EXPECT_EQ(S_OK, m_pSample->IsSyncPoint());
    EXPECT_EQ(S_OK, m_pSample->SetPreroll(TRUE));
    EXPECT_EQ(S_OK, m_pSample->SetDiscontinuity(TRUE));
    EXPECT_EQ(S_OK, m_pSample->SetPreroll(FALSE));
    EXPECT_EQ(S_FALSE, m_pSample->IsPreroll());
    EXPECT_EQ(S_OK, m_pSample->IsDiscontinuity());
    EXPECT_EQ(DWORD(AM_SAMPLE_SPLICEPOINT | AM_SAMPLE_DATADISCONTINUITY), Props().dwSampleFlags);

    const LONG cb = m_pSample->GetSize();
    EXPECT_EQ(100, cb);
    EXPECT_EQ(S_OK, m_pSample->SetActualDataLength(cb));
    EXPECT_EQ(cb, m_pSample->GetActualDataLength());
    {
        testsupport::ExpectAsserts expect;
        EXPECT_EQ(VFW_E_BUFFER_OVERFLOW, m_pSample->SetActualDataLength(cb + 1));
        EXPECT_TRUE(expect.Saw("!_T(\"Actual sample's data length greater then buffer size\")"));
    }
    EXPECT_EQ(E_INVALIDARG, m_pSample->SetActualDataLength(-1));
    EXPECT_EQ(cb, m_pSample->GetActualDataLength());
}

TEST_F(MediaSample, AttachedMediaTypeIsOwnedAndCopied) {
    AM_MEDIA_TYPE* pmt = reinterpret_cast<AM_MEDIA_TYPE*>(1);
    EXPECT_EQ(S_FALSE, m_pSample->GetMediaType(&pmt));
    EXPECT_EQ(nullptr, pmt);

    CMType type(MEDIATYPE_Stream, MEDIASUBTYPE_MPEG2_PROGRAM);
    EXPECT_EQ(S_OK, m_pSample->SetMediaType(&type));
    EXPECT_NE(0u, Props().dwSampleFlags & AM_SAMPLE_TYPECHANGED);
    ASSERT_EQ(S_OK, m_pSample->GetMediaType(&pmt));
    EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_MPEG2_PROGRAM, pmt->subtype));
    MTFree(pmt);

    // The attached type itself, as GetProperties hands it out, can be set
    // again without being freed first.
    AM_SAMPLE2_PROPERTIES props = Props();
    ASSERT_NE(nullptr, props.pMediaType);
    EXPECT_EQ(S_OK, m_pSample->SetMediaType(props.pMediaType));
    ASSERT_EQ(S_OK, m_pSample->GetMediaType(&pmt));
    EXPECT_TRUE(IsEqualGUID(MEDIATYPE_Stream, pmt->majortype));
    MTFree(pmt);

    EXPECT_EQ(S_OK, m_pSample->SetMediaType(NULL));
    EXPECT_EQ(S_FALSE, m_pSample->GetMediaType(&pmt));
    EXPECT_EQ(0u, Props().dwSampleFlags & AM_SAMPLE_TYPECHANGED);
}

// The record as the platform's components lay it out: 48 bytes on 32-bit
// Windows, 64 on 64-bit, the two pointers where their size puts them. The
// sample reads and writes it by these offsets.
TEST(SampleProperties, RecordHasThePlatformsLayout) {
    const bool b32 = sizeof(void*) == 4;
    EXPECT_EQ(b32 ? 48u : 64u, sizeof(AM_SAMPLE2_PROPERTIES));
    EXPECT_EQ(16u, offsetof(AM_SAMPLE2_PROPERTIES, tStart));
    EXPECT_EQ(32u, offsetof(AM_SAMPLE2_PROPERTIES, dwStreamId));
    EXPECT_EQ(b32 ? 36u : 40u, offsetof(AM_SAMPLE2_PROPERTIES, pMediaType));
    EXPECT_EQ(b32 ? 40u : 48u, offsetof(AM_SAMPLE2_PROPERTIES, pbBuffer));
    EXPECT_EQ(b32 ? 44u : 56u, offsetof(AM_SAMPLE2_PROPERTIES, cbBuffer));
}

TEST_F(MediaSample, GetPropertiesCopiesAsMuchAsAsked) {
    BYTE buf[sizeof(AM_SAMPLE2_PROPERTIES) + 36];
    memset(buf, 0xAB, sizeof(buf));
    EXPECT_EQ(S_OK, m_pSample->GetProperties(sizeof(buf), buf));
    AM_SAMPLE2_PROPERTIES props;
    memcpy(&props, buf, sizeof(props));
    EXPECT_EQ(sizeof(AM_SAMPLE2_PROPERTIES), props.cbData);
    EXPECT_EQ(0xAB, buf[sizeof(AM_SAMPLE2_PROPERTIES)]);  // nothing past the record
    BYTE* pBuffer = NULL;
    m_pSample->GetPointer(&pBuffer);
    EXPECT_EQ(pBuffer, props.pbBuffer);
    EXPECT_EQ(100, props.cbBuffer);

    memset(buf, 0xAB, sizeof(buf));
    EXPECT_EQ(S_OK, m_pSample->GetProperties(20, buf));
    memcpy(&props.cbData, buf, sizeof(DWORD));
    EXPECT_EQ(20u, props.cbData);
    EXPECT_EQ(0xAB, buf[20]);
    EXPECT_EQ(S_OK, m_pSample->GetProperties(0, NULL));
    testsupport::ExpectAsserts expect;
    EXPECT_EQ(E_POINTER, m_pSample->GetProperties(4, NULL));
}

TEST_F(MediaSample, SetPropertiesChecksBeforeChangingAnything) {
    AM_SAMPLE2_PROPERTIES props = Props();
    props.dwSampleFlags = AM_SAMPLE_SPLICEPOINT | AM_SAMPLE_TIMEVALID | AM_SAMPLE_STOPVALID;
    props.tStart = 10;
    props.tStop = 20;
    props.lActual = 60;
    props.dwStreamId = 3;
    props.dwTypeSpecificFlags = 0x42;
    ASSERT_EQ(S_OK, m_pSample->SetProperties(sizeof(props), reinterpret_cast<BYTE*>(&props)));
    REFERENCE_TIME t1, t2;
    EXPECT_EQ(S_OK, m_pSample->GetTime(&t1, &t2));
    EXPECT_EQ(20, t2);
    EXPECT_EQ(60, m_pSample->GetActualDataLength());
    EXPECT_EQ(3u, Props().dwStreamId);

    // Too short to carry anything.
    AM_SAMPLE2_PROPERTIES bad = Props();
    bad.dwTypeSpecificFlags = 0;
    EXPECT_EQ(S_OK, m_pSample->SetProperties(4, reinterpret_cast<BYTE*>(&bad)));
    // Refusals, each with nothing changed.
    struct Case {
        const char* what;
        void (*change)(AM_SAMPLE2_PROPERTIES&);
    };
    const Case cases[] = {
        {"end of stream flag", [](AM_SAMPLE2_PROPERTIES& p) { p.dwSampleFlags |= AM_SAMPLE_ENDOFSTREAM; }},
        {"private flag", [](AM_SAMPLE2_PROPERTIES& p) { p.dwSampleFlags |= SAMPLE_MEDIATIMEVALID; }},
        {"other buffer", [](AM_SAMPLE2_PROPERTIES& p) { p.pbBuffer += 1; }},
        {"other size", [](AM_SAMPLE2_PROPERTIES& p) { p.cbBuffer = 50; }},
        {"length over size", [](AM_SAMPLE2_PROPERTIES& p) { p.lActual = 101; }},
        {"negative length", [](AM_SAMPLE2_PROPERTIES& p) { p.lActual = -1; }},
        {"too long", [](AM_SAMPLE2_PROPERTIES& p) { p.cbData = sizeof(p) + 1; }},
    };
    for (const Case& c : cases) {
        BYTE raw[sizeof(AM_SAMPLE2_PROPERTIES) + 1] = {0};
        AM_SAMPLE2_PROPERTIES p = Props();
        p.dwTypeSpecificFlags = 0x99;
        c.change(p);
        memcpy(raw, &p, sizeof(p));
        EXPECT_EQ(E_INVALIDARG, m_pSample->SetProperties(p.cbData, raw)) << c.what;
        EXPECT_EQ(0x42u, Props().dwTypeSpecificFlags) << c.what;
        EXPECT_EQ(60, m_pSample->GetActualDataLength()) << c.what;
    }
    // A start time without a stop time on a sample that has none.
    EXPECT_EQ(S_OK, m_pSample->SetTime(NULL, NULL));
    AM_SAMPLE2_PROPERTIES p = Props();
    p.dwSampleFlags = AM_SAMPLE_TIMEVALID;
    EXPECT_EQ(E_INVALIDARG,
              m_pSample->SetProperties(offsetof(AM_SAMPLE2_PROPERTIES, tStop), reinterpret_cast<BYTE*>(&p)));
    // The record's own size limits what is read.
    p = Props();
    p.cbData = 8;
    p.lActual = 5;
    EXPECT_EQ(S_OK, m_pSample->SetProperties(sizeof(p), reinterpret_cast<BYTE*>(&p)));
    EXPECT_EQ(60, m_pSample->GetActualDataLength());
    testsupport::ExpectAsserts expect;
    EXPECT_EQ(E_POINTER, m_pSample->SetProperties(sizeof(p), NULL));
}

TEST_F(MediaSample, SetPropertiesKeepsTheTypeFlagTrueToTheAttachedType) {
    CMType type(MEDIATYPE_Video, MEDIASUBTYPE_RGB24);
    AM_SAMPLE2_PROPERTIES p = Props();
    p.dwSampleFlags = AM_SAMPLE_TYPECHANGED;
    p.pMediaType = &type;
    ASSERT_EQ(S_OK, m_pSample->SetProperties(sizeof(p), reinterpret_cast<BYTE*>(&p)));
    AM_SAMPLE2_PROPERTIES got = Props();
    ASSERT_NE(nullptr, got.pMediaType);
    EXPECT_NE(static_cast<AM_MEDIA_TYPE*>(&type), got.pMediaType);
    // A round trip of the record, with the attached type itself.
    EXPECT_EQ(S_OK, m_pSample->SetProperties(sizeof(got), reinterpret_cast<BYTE*>(&got)));
    AM_MEDIA_TYPE* pmt = NULL;
    ASSERT_EQ(S_OK, m_pSample->GetMediaType(&pmt));
    EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_RGB24, pmt->subtype));
    MTFree(pmt);

    // A record too short for the type field keeps the type and its flag.
    p = Props();
    p.dwSampleFlags = AM_SAMPLE_SPLICEPOINT;
    ASSERT_EQ(S_OK, m_pSample->SetProperties(offsetof(AM_SAMPLE2_PROPERTIES, pMediaType),
                                             reinterpret_cast<BYTE*>(&p)));
    EXPECT_EQ(DWORD(AM_SAMPLE_SPLICEPOINT | AM_SAMPLE_TYPECHANGED), Props().dwSampleFlags);
    EXPECT_EQ(S_OK, m_pSample->GetMediaType(&pmt));
    MTFree(pmt);

    // A record with the field but without the flag detaches the type.
    p = Props();
    p.dwSampleFlags = 0;
    p.pMediaType = NULL;
    ASSERT_EQ(S_OK, m_pSample->SetProperties(sizeof(p), reinterpret_cast<BYTE*>(&p)));
    EXPECT_EQ(S_FALSE, m_pSample->GetMediaType(&pmt));
    EXPECT_EQ(nullptr, Props().pMediaType);

    // The flag without a type is refused.
    testsupport::ExpectAsserts expect;
    p.dwSampleFlags = AM_SAMPLE_TYPECHANGED;
    EXPECT_EQ(E_POINTER, m_pSample->SetProperties(sizeof(p), reinterpret_cast<BYTE*>(&p)));
    EXPECT_EQ(0u, Props().dwSampleFlags & AM_SAMPLE_TYPECHANGED);
}

TEST_F(MediaSample, LastReleaseGivesTheBufferBack) {
    IMemAllocatorCallbackTemp* pCb = NULL;
    ASSERT_EQ(S_OK, m_pAlloc->QueryInterface(IID_IMemAllocatorCallbackTemp, reinterpret_cast<void**>(&pCb)));
    LONG nFree = -1;
    EXPECT_EQ(S_OK, pCb->GetFreeCount(&nFree));
    EXPECT_EQ(1, nFree);
    CMType type(MEDIATYPE_Stream, GUID_NULL);
    m_pSample->SetMediaType(&type);  // freed with the sample
    m_pSample->AddRef();
    EXPECT_EQ(1u, m_pSample->Release());
    EXPECT_EQ(0u, m_pSample->Release());
    m_pSample = NULL;
    EXPECT_EQ(S_OK, pCb->GetFreeCount(&nFree));
    EXPECT_EQ(2, nFree);
    pCb->Release();
}

}  // namespace
