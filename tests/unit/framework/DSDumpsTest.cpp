#include <windows.h>
#include <dshow.h>
#include <dvdmedia.h>

#include <gtest/gtest.h>

#include <stddef.h>
#include <string.h>

#include <string>

#include "DShowX/DSAllocators.h"
#include "DShowX/DSParsers.h"
#include "DShowX/DSTypes.h"
#include "DebugCapture.h"

namespace {

// A media type of the given types over a copy of a format record.
class TypeWithFormat {
public:
    TypeWithFormat(REFGUID major, REFGUID sub, REFGUID format, const void* pFormat, ULONG cbFormat) {
        MTInit(&m_mt, major, sub);
        m_mt.formattype = format;
        m_mt.cbFormat = cbFormat;
        m_mt.pbFormat = cbFormat ? MTAllocFormat(cbFormat, static_cast<const BYTE*>(pFormat)) : NULL;
    }
    ~TypeWithFormat() { CoTaskMemFree(m_mt.pbFormat); }
    AM_MEDIA_TYPE m_mt;
};

std::string Dumped(void (*dump)(const AM_MEDIA_TYPE*), const AM_MEDIA_TYPE* pmt) {
    testsupport::ClearDebugText();
    dump(pmt);
    return testsupport::DebugText();
}

void DumpAtLevel8(const AM_MEDIA_TYPE* pmt) {
    Debug_MediaType(TRACE_APP1, 8, pmt);
}

VIDEOINFOHEADER MakeVih() {
    VIDEOINFOHEADER vih;
    memset(&vih, 0, sizeof(vih));
    vih.rcSource = {0, 0, 720, 576};
    vih.rcTarget = {1, 2, 3, 4};
    vih.dwBitRate = 8000000;
    vih.AvgTimePerFrame = 400000;
    vih.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih.bmiHeader.biWidth = 720;
    vih.bmiHeader.biHeight = 576;
    vih.bmiHeader.biPlanes = 1;
    vih.bmiHeader.biBitCount = 16;
    vih.bmiHeader.biCompression = 0x32595559;
    vih.bmiHeader.biSizeImage = 829440;
    return vih;
}

TEST(ParseMediaType, ShortAndFullForms) {
    CHAR sz[256];
    EXPECT_STREQ("Empty media type\n", ParseMediaType(NULL, sz, sizeof(sz), TRUE));
    VIDEOINFOHEADER vih = MakeVih();
    TypeWithFormat t(MEDIATYPE_Video, MEDIASUBTYPE_YUY2, FORMAT_VideoInfo, &vih, sizeof(vih));
    EXPECT_STREQ("( MEDIATYPE_Video / MEDIASUBTYPE_YUY2 / FORMAT_VideoInfo )",
                 ParseMediaType(&t.m_mt, sz, 128, FALSE));
    EXPECT_STREQ("( MEDIATYPE_Video / MEDIASUBTYPE_YUY2 / FORMAT_VideoInfo ) 720*576\r\n",
                 ParseMediaType(&t.m_mt, sz, 256, TRUE));
    EXPECT_STREQ("( MEDIATYPE_Vi", ParseMediaType(&t.m_mt, sz, 15, TRUE));
    // A block too short for the bitmap header gives no size.
    TypeWithFormat shortType(MEDIATYPE_Video, MEDIASUBTYPE_YUY2, FORMAT_VideoInfo, &vih, 60);
    EXPECT_STREQ("( MEDIATYPE_Video / MEDIASUBTYPE_YUY2 / FORMAT_VideoInfo )\r\n",
                 ParseMediaType(&shortType.m_mt, sz, 256, TRUE));
    CMType stream(MEDIATYPE_Stream, MEDIASUBTYPE_MPEG2_PROGRAM);
    EXPECT_STREQ("( MEDIATYPE_Stream / MEDIASUBTYPE_MPEG2_PROGRAM / GUID_NULL )\r\n",
                 ParseMediaType(&stream, sz, 256, TRUE));
}

TEST(DebugMediaType, VideoInfoWithBitmap) {
    VIDEOINFOHEADER vih = MakeVih();
    TypeWithFormat t(MEDIATYPE_Video, MEDIASUBTYPE_YUY2, FORMAT_VideoInfo, &vih, sizeof(vih));
    EXPECT_EQ(
        "( MEDIATYPE_Video / MEDIASUBTYPE_YUY2 / FORMAT_VideoInfo ), size=1, cbForm=88, fix:Y, compr:N\n"
        "MT: src=[0,0:720,576], targ=[1,2:3,4], rate=8000000, errRate=0, AvgT=0.040\n"
        "MT (BMP): size=40, w=720, h=576, planes=1, bits=16, compress=YUY2, sizeImg=829440\n",
        Dumped(DumpAtLevel8, &t.m_mt));
    // Too short for anything past the first line.
    TypeWithFormat shortType(MEDIATYPE_Video, MEDIASUBTYPE_YUY2, FORMAT_VideoInfo, &vih, 20);
    EXPECT_EQ(
        "( MEDIATYPE_Video / MEDIASUBTYPE_YUY2 / FORMAT_VideoInfo ), size=1, cbForm=20, fix:Y, compr:N\n",
        Dumped(DumpAtLevel8, &shortType.m_mt));
}

TEST(DebugMediaType, Mpeg2VideoInterlaced) {
    MPEG2VIDEOINFO mvi;
    memset(&mvi, 0, sizeof(mvi));
    mvi.hdr.rcSource = {0, 0, 720, 480};
    mvi.hdr.AvgTimePerFrame = 333667;
    mvi.hdr.dwInterlaceFlags = 0x21;
    mvi.hdr.dwPictAspectRatioX = 16;
    mvi.hdr.dwPictAspectRatioY = 9;
    mvi.hdr.bmiHeader.biWidth = 720;
    mvi.hdr.bmiHeader.biHeight = 480;
    mvi.hdr.bmiHeader.biClrUsed = 3;
    mvi.dwProfile = 4;
    mvi.dwLevel = 8;
    mvi.cbSequenceHeader = 4;
    mvi.dwSequenceHeader[0] = 0xB3010000;
    TypeWithFormat t(MEDIATYPE_Video, MEDIASUBTYPE_MPEG2_VIDEO, FORMAT_MPEG2Video, &mvi, sizeof(mvi));
    EXPECT_EQ(
        "( MEDIATYPE_Video / MEDIASUBTYPE_MPEG2_VIDEO / FORMAT_MPEG2Video ), size=1, cbForm=136, fix:Y, "
        "compr:N\n"
        "MT: src=[0,0:720,480], targ=[0,0:0,0], rate=0, errRate=0, AvgT=0.033'3667\n"
        "MT: ilace=0x21 (INTERLACED), copProt=0x0, aspect={16,9}, ctrl=0x0\n"
        "MT: startCode=0x0, cbHeader=4, profile=4, level=8, flags=0x0, seqHeader[0]=0xB3010000\n"
        "MT (BMP): size=0, w=720, h=480, planes=0, bits=0, compress=BI_RGB, sizeImg=0\n"
        "MT (BMP): ClrUsed=3, ClrImp=0\n",
        Dumped(DumpAtLevel8, &t.m_mt));
}

TEST(DebugMediaType, WaveDvAndBadFormats) {
    WAVEFORMATEX wfx = {1, 2, 48000, 192000, 4, 16, 0};
    TypeWithFormat wave(MEDIATYPE_Audio, MEDIASUBTYPE_PCM, FORMAT_WaveFormatEx, &wfx, sizeof(wfx));
    EXPECT_EQ(
        "( MEDIATYPE_Audio / MEDIASUBTYPE_PCM / FORMAT_WaveFormatEx ), size=1, cbForm=18, fix:Y, compr:N\n"
        "WAVEFORMATEX: Tag=0x1, chan=2, nPerSec=48000, nAvg=192000, align=4, bits=16  size=0\n",
        Dumped(DumpAtLevel8, &wave.m_mt));

    DVINFO dv = {1, 2, 3, 4, 0xABCDEF, 6, {0, 0}};
    TypeWithFormat dvType(MEDIATYPE_Interleaved, GUID_NULL, FORMAT_DvInfo, &dv, sizeof(dv));
    const std::string dvText = Dumped(DumpAtLevel8, &dvType.m_mt);
    EXPECT_NE(std::string::npos,
              dvText.find(
                  "DVINFO: \n\tdwDVAAuxSrc=00000001, dwDVAAuxCtl=00000002 (1st 5/6 DIF seq)\n\tdwDVAAuxSrc1="
                  "00000003, dwDVAAuxCtl1=00000004 (2nd 5/6 DIF seq)\n\tdwDVVAuxSrc=00ABCDEF, "
                  "dwDVVAuxCtl=00000006 (Video)\n"))
        << dvText;

    TypeWithFormat bad(MEDIATYPE_Video, MEDIASUBTYPE_YUY2, FORMAT_VideoInfo, NULL, 0);
    bad.m_mt.cbFormat = 4;
    EXPECT_EQ(
        "( MEDIATYPE_Video / MEDIASUBTYPE_YUY2 / FORMAT_VideoInfo ), size=1, cbForm=4, fix:Y, compr:N\n"
        "###Err### Debug_MediaType(): bad format parameters, cbFormat=4, pbFormat=0x0\n",
        Dumped(DumpAtLevel8, &bad.m_mt));
    EXPECT_EQ("###Err### Debug_MediaType(): Empty media type pointer\n", Dumped(DumpAtLevel8, NULL));
    EXPECT_EQ("", Dumped([](const AM_MEDIA_TYPE* p) { Debug_MediaType(TRACE_APP1, 9, p); }, &wave.m_mt));
    EXPECT_EQ("", Dumped([](const AM_MEDIA_TYPE* p) { Debug_MediaType(0, 1, p); }, &wave.m_mt));
}

TEST(DebugBitmapInfoHeader, SecondLineOnlyWhenSomethingIsSet) {
    BITMAPINFOHEADER bih;
    memset(&bih, 0, sizeof(bih));
    bih.biCompression = 5;
    testsupport::ClearDebugText();
    Debug_BitmapInfoHeader(TRACE_GENERAL, 2, &bih, NULL);
    EXPECT_EQ("BITMAPINFOHEADER: size=0, w=0, h=0, planes=0, bits=0, compress=0x5, sizeImg=0\n",
              testsupport::DebugText());
    bih.biXPelsPerMeter = 10;
    bih.biClrImportant = 2;
    testsupport::ClearDebugText();
    Debug_BitmapInfoHeader(TRACE_GENERAL, 2, &bih, "P: ");
    EXPECT_NE(std::string::npos,
              testsupport::DebugText().find("\nP: XPels=10, YPels=0, ClrUsed=0, ClrImp=2\n"));
    testsupport::ClearDebugText();
    Debug_BitmapInfoHeader(TRACE_GENERAL, 2, NULL, NULL);
    EXPECT_EQ("###Err### BITMAPINFOHEADER: Debug_BitmapInfoHeader(): Empty header pointer\n",
              testsupport::DebugText());
}

TEST(DebugAllocator, PropertiesOrError) {
    IMemAllocator* pAlloc = NULL;
    ASSERT_EQ(S_OK, CreateMemoryAllocator(&pAlloc));
    testsupport::ClearDebugText();
    Debug_Allocator(TRACE_GENERAL, 8, pAlloc, NULL);
    EXPECT_NE(std::string::npos,
              testsupport::DebugText().find(
                  "###Err### Debug_Allocator(): pAllocator->GetProperties()=0x8004020C\n"));
    ALLOCATOR_PROPERTIES req = {4, 1000, 0, 0}, act;
    ASSERT_EQ(S_OK, pAlloc->SetProperties(&req, &act));
    testsupport::ClearDebugText();
    Debug_Allocator(TRACE_GENERAL, 8, pAlloc, "X ");
    CHAR szExpected[128];
    wsprintfA(szExpected, "X IMemAllocator=0x%X, props = { 4, 1000, 1, 0 }\n", (UINT)(UINT_PTR)pAlloc);
    EXPECT_NE(std::string::npos, testsupport::DebugText().find(szExpected));
    pAlloc->Release();
    testsupport::ClearDebugText();
    Debug_Allocator(TRACE_GENERAL, 8, NULL, NULL);
    EXPECT_EQ("###Err### Debug_Allocator(): Empty allocator pointer\n", testsupport::DebugText());
}

}  // namespace
