#include <windows.h>
#include <dshow.h>

#include <gtest/gtest.h>

#include <string.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "DShowX/DSParsers.h"
#include "DebugCapture.h"

namespace {

struct NamedGuid {
    const GUID* pGuid;
    const char* pszName;
};

// Rows whose values must be the platform's own: each is compared with the
// constant the platform's headers and libraries define.
const NamedGuid s_arrPlatformRows[] = {
    {&IID_IBaseFilter, "IBaseFilter"},
    {&IID_IEnumFilters, "IEnumFilters"},
    {&IID_IEnumMediaTypes, "IEnumMediaTypes"},
    {&IID_IEnumPins, "IEnumPins"},
    {&IID_IFileSourceFilter, "IFileSourceFilter"},
    {&IID_IFilterGraph, "IFilterGraph"},
    {&IID_IFilterGraph2, "IFilterGraph2"},
    {&IID_IGraphBuilder, "IGraphBuilder"},
    {&IID_IMediaFilter, "IMediaFilter"},
    {&IID_IMediaSample, "IMediaSample"},
    {&IID_IMediaSample2, "IMediaSample2"},
    {&IID_IMediaSeeking, "IMediaSeeking"},
    {&IID_IMemAllocator, "IMemAllocator"},
    {&IID_IMemInputPin, "IMemInputPin"},
    {&IID_IPin, "IPin"},
    {&IID_IQualityControl, "IQualityControl"},
    {&IID_IReferenceClock, "IReferenceClock"},
    {&IID_ISpecifyPropertyPages, "ISpecifyPropertyPages"},
    {&MEDIATYPE_AnalogAudio, "MEDIATYPE_AnalogAudio"},
    {&MEDIATYPE_AnalogVideo, "MEDIATYPE_AnalogVideo"},
    {&MEDIATYPE_Video, "MEDIATYPE_Video"},
    {&MEDIATYPE_Audio, "MEDIATYPE_Audio"},
    {&MEDIATYPE_Stream, "MEDIATYPE_Stream"},
    {&MEDIATYPE_DVD_ENCRYPTED_PACK, "MEDIATYPE_DVD_ENCRYPTED_PACK"},
    {&MEDIATYPE_DVD_NAVIGATION, "MEDIATYPE_DVD_NAVIGATION"},
    {&MEDIATYPE_MPEG2_PES, "MEDIATYPE_MPEG2_PES"},
    {&MEDIATYPE_AUXLine21Data, "MEDIATYPE_AUXLine21Data"},
    {&MEDIATYPE_File, "MEDIATYPE_File"},
    {&MEDIATYPE_Interleaved, "MEDIATYPE_Interleaved"},
    {&MEDIATYPE_LMRT, "MEDIATYPE_LMRT"},
    {&MEDIATYPE_MPEG1SystemStream, "MEDIATYPE_MPEG1SystemStream"},
    {&MEDIATYPE_Midi, "MEDIATYPE_Midi"},
    {&MEDIATYPE_ScriptCommand, "MEDIATYPE_ScriptCommand"},
    {&MEDIATYPE_Text, "MEDIATYPE_Text"},
    {&MEDIATYPE_Timecode, "MEDIATYPE_Timecode"},
    {&MEDIASUBTYPE_PCM, "MEDIASUBTYPE_PCM"},
    {&MEDIASUBTYPE_WAVE, "MEDIASUBTYPE_WAVE"},
    {&MEDIASUBTYPE_DOLBY_AC3, "MEDIASUBTYPE_DOLBY_AC3"},
    {&MEDIASUBTYPE_DOLBY_AC3_SPDIF, "MEDIASUBTYPE_DOLBY_AC3_SPDIF"},
    {&MEDIASUBTYPE_RAW_SPORT, "MEDIASUBTYPE_RAW_SPORT"},
    {&MEDIASUBTYPE_SPDIF_TAG_241h, "MEDIASUBTYPE_SPDIF_TAG_241h"},
    {&MEDIASUBTYPE_RGB1, "MEDIASUBTYPE_RGB1"},
    {&MEDIASUBTYPE_RGB4, "MEDIASUBTYPE_RGB4"},
    {&MEDIASUBTYPE_RGB8, "MEDIASUBTYPE_RGB8"},
    {&MEDIASUBTYPE_RGB555, "MEDIASUBTYPE_RGB555"},
    {&MEDIASUBTYPE_RGB565, "MEDIASUBTYPE_RGB565"},
    {&MEDIASUBTYPE_RGB24, "MEDIASUBTYPE_RGB24"},
    {&MEDIASUBTYPE_RGB32, "MEDIASUBTYPE_RGB32"},
    {&MEDIASUBTYPE_ARGB32, "MEDIASUBTYPE_ARGB32"},
    {&MEDIASUBTYPE_CLPL, "MEDIASUBTYPE_CLPL"},
    {&MEDIASUBTYPE_YUYV, "MEDIASUBTYPE_YUYV"},
    {&MEDIASUBTYPE_IYUV, "MEDIASUBTYPE_IYUV"},
    {&MEDIASUBTYPE_YVU9, "MEDIASUBTYPE_YVU9"},
    {&MEDIASUBTYPE_Y411, "MEDIASUBTYPE_Y411"},
    {&MEDIASUBTYPE_Y41P, "MEDIASUBTYPE_Y41P"},
    {&MEDIASUBTYPE_YUY2, "MEDIASUBTYPE_YUY2"},
    {&MEDIASUBTYPE_YVYU, "MEDIASUBTYPE_YVYU"},
    {&MEDIASUBTYPE_UYVY, "MEDIASUBTYPE_UYVY"},
    {&MEDIASUBTYPE_Y211, "MEDIASUBTYPE_Y211"},
    {&MEDIASUBTYPE_YV12, "MEDIASUBTYPE_YV12"},
    {&MEDIASUBTYPE_CLJR, "MEDIASUBTYPE_CLJR"},
    {&MEDIASUBTYPE_IF09, "MEDIASUBTYPE_IF09"},
    {&MEDIASUBTYPE_CPLA, "MEDIASUBTYPE_CPLA"},
    {&MEDIASUBTYPE_MPEG1System, "MEDIASUBTYPE_MPEG1System"},
    {&MEDIASUBTYPE_MPEG1Audio, "MEDIASUBTYPE_MPEG1Audio"},
    {&MEDIASUBTYPE_MPEG1AudioPayload, "MEDIASUBTYPE_MPEG1AudioPayload"},
    {&MEDIASUBTYPE_MPEG1Packet, "MEDIASUBTYPE_MPEG1Packet"},
    {&MEDIASUBTYPE_MPEG1Payload, "MEDIASUBTYPE_MPEG1Payload"},
    {&MEDIASUBTYPE_MPEG1Video, "MEDIASUBTYPE_MPEG1Video"},
    {&MEDIASUBTYPE_MPEG1VideoCD, "MEDIASUBTYPE_MPEG1VideoCD"},
    {&MEDIASUBTYPE_MPEG2_PROGRAM, "MEDIASUBTYPE_MPEG2_PROGRAM"},
    {&MEDIASUBTYPE_MPEG2_TRANSPORT, "MEDIASUBTYPE_MPEG2_TRANSPORT"},
    {&MEDIASUBTYPE_MPEG2_AUDIO, "MEDIASUBTYPE_MPEG2_AUDIO"},
    {&MEDIASUBTYPE_MPEG2_VIDEO, "MEDIASUBTYPE_MPEG2_VIDEO"},
    {&MEDIASUBTYPE_DVD_SUBPICTURE, "MEDIASUBTYPE_DVD_SUBPICTURE"},
    {&MEDIASUBTYPE_DVD_LPCM_AUDIO, "MEDIASUBTYPE_DVD_LPCM_AUDIO"},
    {&MEDIASUBTYPE_DVD_NAVIGATION_DSI, "MEDIASUBTYPE_DVD_NAVIGATION_DSI"},
    {&MEDIASUBTYPE_DVD_NAVIGATION_PCI, "MEDIASUBTYPE_DVD_NAVIGATION_PCI"},
    {&MEDIASUBTYPE_DVD_NAVIGATION_PROVIDER, "MEDIASUBTYPE_DVD_NAVIGATION_PROVIDER"},
    {&MEDIASUBTYPE_Line21_BytePair, "MEDIASUBTYPE_Line21_BytePair"},
    {&MEDIASUBTYPE_Line21_GOPPacket, "MEDIASUBTYPE_Line21_GOPPacket"},
    {&MEDIASUBTYPE_Line21_VBIRawData, "MEDIASUBTYPE_Line21_VBIRawData"},
    {&MEDIASUBTYPE_QTJpeg, "MEDIASUBTYPE_QTJpeg"},
    {&MEDIASUBTYPE_QTMovie, "MEDIASUBTYPE_QTMovie"},
    {&MEDIASUBTYPE_QTRle, "MEDIASUBTYPE_QTRle"},
    {&MEDIASUBTYPE_QTRpza, "MEDIASUBTYPE_QTRpza"},
    {&MEDIASUBTYPE_QTSmc, "MEDIASUBTYPE_QTSmc"},
    {&MEDIASUBTYPE_DssAudio, "MEDIASUBTYPE_DssAudio"},
    {&MEDIASUBTYPE_DssVideo, "MEDIASUBTYPE_DssVideo"},
    {&MEDIASUBTYPE_VPVBI, "MEDIASUBTYPE_VPVBI"},
    {&MEDIASUBTYPE_VPVideo, "MEDIASUBTYPE_VPVideo"},
    {&MEDIASUBTYPE_Overlay, "MEDIASUBTYPE_Overlay"},
    {&MEDIASUBTYPE_Avi, "MEDIASUBTYPE_Avi"},
    {&MEDIASUBTYPE_AIFF, "MEDIASUBTYPE_AIFF"},
    {&MEDIASUBTYPE_Asf, "MEDIASUBTYPE_Asf"},
    {&MEDIASUBTYPE_AU, "MEDIASUBTYPE_AU"},
    {&MEDIASUBTYPE_None, "MEDIASUBTYPE_None"},
    {&FORMAT_VideoInfo, "FORMAT_VideoInfo"},
    {&FORMAT_VideoInfo2, "FORMAT_VideoInfo2"},
    {&FORMAT_WaveFormatEx, "FORMAT_WaveFormatEx"},
    {&FORMAT_MPEGStreams, "FORMAT_MPEGStreams"},
    {&FORMAT_MPEGVideo, "FORMAT_MPEGVideo"},
    {&FORMAT_MPEG2Audio, "FORMAT_MPEG2Audio"},
    {&FORMAT_MPEG2Video, "FORMAT_MPEG2Video"},
    {&FORMAT_AnalogVideo, "FORMAT_AnalogVideo"},
    {&FORMAT_DVD_LPCMAudio, "FORMAT_DVD_LPCMAudio"},
    {&FORMAT_DolbyAC3, "FORMAT_DolbyAC3"},
    {&FORMAT_DvInfo, "FORMAT_DvInfo"},
    {&FORMAT_None, "FORMAT_None"},
    {&TIME_FORMAT_FRAME, "TIME_FORMAT_FRAME"},
    {&TIME_FORMAT_BYTE, "TIME_FORMAT_BYTE"},
    {&TIME_FORMAT_SAMPLE, "TIME_FORMAT_SAMPLE"},
    {&TIME_FORMAT_FIELD, "TIME_FORMAT_FIELD"},
    {&TIME_FORMAT_MEDIA_TIME, "TIME_FORMAT_MEDIA_TIME"},
};

std::string Name(REFGUID guid, int cch = GUID_NAME_SIZE) {
    CHAR sz[GUID_NAME_SIZE];
    return Guid2Name(guid, sz, cch);
}

GUID FourccGuid(DWORD dwCode) {
    GUID g = {dwCode, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
    return g;
}

TEST(GuidNames, TablesHoldTheirEntriesSortedWithoutDuplicates) {
    const GUIDNAME_NODE* pNode = GetGuidNameTables();
    ASSERT_NE(nullptr, pNode);
    ASSERT_NE(nullptr, pNode->pNext);
    EXPECT_EQ(195u, pNode->cElems);
    EXPECT_EQ(17u, pNode->pNext->cElems);
    EXPECT_EQ(nullptr, pNode->pNext->pNext);
    std::set<std::string> guids;
    size_t nEntries = 0;
    for (; pNode; pNode = pNode->pNext) {
        for (UINT i = 0; i < pNode->cElems; ++i, ++nEntries) {
            guids.insert(std::string(reinterpret_cast<const char*>(pNode->pGuidName[i].pGuid), sizeof(GUID)));
            if (i > 0) {
                EXPECT_LT(memcmp(pNode->pGuidName[i - 1].pGuid, pNode->pGuidName[i].pGuid, sizeof(GUID)), 0)
                    << pNode->pGuidName[i].pszName;
            }
            // Every entry is found again by its own GUID.
            EXPECT_EQ(pNode->pGuidName[i].pszName, Name(*pNode->pGuidName[i].pGuid));
        }
    }
    EXPECT_EQ(nEntries, guids.size());
}

TEST(GuidNames, IdentifierRowsCarryThePlatformsValues) {
    for (const NamedGuid& row : s_arrPlatformRows)
        EXPECT_EQ(row.pszName, Name(*row.pGuid));
}

TEST(GuidNames, UrlStreamHasItsPublishedValue) {
    // mingw-w64's strmiids library defines this constant with the value of
    // MEDIATYPE_LMRT; its header, and the table, have the published 'urls'.
    const GUID urlStream = {0x736C7275, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
    EXPECT_EQ("MEDIATYPE_URL_STREAM", Name(urlStream));
}

TEST(GuidNames, WorkedExamples) {
    EXPECT_EQ("MEDIATYPE_Stream", Name(MEDIATYPE_Stream));
    const GUID cyberLink = {0x9BC1B781, 0x85E3, 0x11D2, {0x98, 0xD0, 0x00, 0x80, 0xC8, 0x4E, 0x9C, 0x39}};
    EXPECT_EQ("CyberLink V/SP Decoder", Name(cyberLink));
    EXPECT_EQ("TAG_0x55(MP3)", Name(FourccGuid(0x55)));
    EXPECT_EQ("TAG_0x2", Name(FourccGuid(0x2)));
    EXPECT_EQ("MEDIASUBTYPE_PCM", Name(FourccGuid(0x1)));  // the tables come before the fallbacks
    EXPECT_EQ("FCC_H264", Name(FourccGuid(0x34363248)));
    EXPECT_EQ("{01343248-0000-0010-8000-00AA00389B71}", Name(FourccGuid(0x01343248)));
    const GUID other = {0x12345678, 0x9ABC, 0xDEF0, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}};
    EXPECT_EQ("{12345678-9ABC-DEF0-0123-456789ABCDEF}", Name(other));
    EXPECT_EQ("GUID_NULL", Name(GUID_NULL));
    EXPECT_EQ("Filter Graph", Name(CLSID_FilterGraph));
    EXPECT_EQ("DirectShow Filters category", Name(CLSID_LegacyAmFilterCategory));
}

TEST(GuidNames, NamesAreCutToTheBuffer) {
    EXPECT_EQ("MEDIA", Name(MEDIATYPE_Stream, 6));
    EXPECT_EQ("", Name(MEDIATYPE_Stream, 1));
    EXPECT_EQ("{1234", Name({0x12345678, 0, 0, {0}}, 6));
    testsupport::ExpectAsserts expect;
    CHAR sz[8] = "x";
    EXPECT_STREQ("", Guid2Name(MEDIATYPE_Stream, sz, 0));
    EXPECT_STREQ("x", sz);
    EXPECT_STREQ("", Guid2Name(MEDIATYPE_Stream, NULL, 8));
    EXPECT_TRUE(expect.Saw("pszName != NULL && _T(\"Guid2Name()\")"));
    EXPECT_TRUE(expect.Saw("nMaxSym > 0 && _T(\"Guid2Name()\")"));
}

TEST(GuidNames, FirstLookupsFromManyThreadsAgree) {
    // Natively every test process sorts afresh; TSan watches this one.
    std::vector<std::thread> threads;
    std::vector<std::string> names(4);
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([&, i] { names[i] = Name(MEDIASUBTYPE_MPEG2_PROGRAM); });
    for (std::thread& t : threads)
        t.join();
    for (const std::string& s : names)
        EXPECT_EQ("MEDIASUBTYPE_MPEG2_PROGRAM", s);
}

TEST(Fourcc, NamesAndCodes) {
    CHAR sz[GUID_NAME_SIZE];
    EXPECT_STREQ("BI_RGB", Fourcc2Name(0, sz));
    EXPECT_STREQ("YUY2", Fourcc2Name(0x32595559, sz));
    EXPECT_STREQ("0x5", Fourcc2Name(5, sz));
    EXPECT_STREQ("BI_BITFIELDS", Fourcc2Name(3, sz));
    EXPECT_STREQ("RGB565", Fourcc2Name(0xE436EB7B, sz));
    EXPECT_STREQ("ARGB32", Fourcc2Name(0x773C9AC0, sz));
    EXPECT_STREQ("0xFFFFFFFF", Fourcc2Name(0xFFFFFFFF, sz));
    EXPECT_STREQ("", Fourcc2Str(0x7F595559, sz));  // DEL is not printable
    EXPECT_STREQ("~ ~ ", Fourcc2Str(0x207E207E, sz));
}

}  // namespace
