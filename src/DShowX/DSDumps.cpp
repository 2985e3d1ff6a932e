// One-line descriptions and trace dumps of media types, format blocks and
// allocators. Everything is built in fixed stack buffers; format blocks are
// copied into local records before they are read, so a short or unaligned
// block is never read past its end or through a misaligned pointer.
#include <windows.h>

#include <stddef.h>
#include <stdio.h>
#include <string.h>

#include "DShowX/DSParsers.h"
// After <dshow.h>, which declares what it uses.
#include <dvdmedia.h>

#include "DShowX/DSTrace.h"

namespace {

bool IsDumped(DWORD dwCategory, UINT nLevel) {
    return DSTraceWanted(dwCategory, nLevel);
}

// Copies the first cbRecord bytes of the format block, from cbOffset on, when
// the block covers them.
bool ReadFormat(const AM_MEDIA_TYPE* pmt, void* pRecord, ULONG cbRecord, ULONG cbOffset = 0) {
    if (!pmt->pbFormat || pmt->cbFormat < cbOffset || pmt->cbFormat - cbOffset < cbRecord)
        return false;
    memcpy(pRecord, pmt->pbFormat + cbOffset, cbRecord);
    return true;
}

// Where the bitmap header lies inside a video format block, or 0 for other
// format types.
ULONG BitmapHeaderOffset(const AM_MEDIA_TYPE* pmt) {
    if (IsEqualGUID(pmt->formattype, FORMAT_VideoInfo) || IsEqualGUID(pmt->formattype, FORMAT_MPEGVideo))
        return offsetof(VIDEOINFOHEADER, bmiHeader);
    if (IsEqualGUID(pmt->formattype, FORMAT_VideoInfo2) || IsEqualGUID(pmt->formattype, FORMAT_MPEG2Video))
        return offsetof(VIDEOINFOHEADER2, bmiHeader);
    return 0;
}

// The leading fields VIDEOINFOHEADER and VIDEOINFOHEADER2 share.
void TraceVideoRects(DWORD dwCategory, UINT nLevel, const RECT& rcSource, const RECT& rcTarget,
                     DWORD dwBitRate, DWORD dwBitErrorRate, REFERENCE_TIME rtAvgTimePerFrame) {
    CHAR szTime[CONV_BUFFER_SIZE];
    DSTrace(dwCategory, nLevel, "MT: src=[%i,%i:%i,%i], targ=[%i,%i:%i,%i], rate=%u, errRate=%u, AvgT=%s\n",
            rcSource.left, rcSource.top, rcSource.right, rcSource.bottom, rcTarget.left, rcTarget.top,
            rcTarget.right, rcTarget.bottom, dwBitRate, dwBitErrorRate,
            RefTime2Str(rtAvgTimePerFrame, szTime));
}

}  // namespace

LPSTR ParseMediaType(const AM_MEDIA_TYPE* pmt, LPSTR pszMediaType, int cchMediaType, BOOL bFull) {
    ASSERT(pszMediaType != NULL && _T("ParseMediaType()"));
    if (!pszMediaType)
        return NULL;
    if (cchMediaType <= 0)
        return pszMediaType;
    if (!pmt) {
        _snprintf(pszMediaType, cchMediaType, "Empty media type\n");
        pszMediaType[cchMediaType - 1] = 0;
        return pszMediaType;
    }

    CHAR szMajor[GUID_NAME_SIZE], szSub[GUID_NAME_SIZE], szFormat[GUID_NAME_SIZE];
    Guid2Name(pmt->majortype, szMajor, sizeof(szMajor));
    Guid2Name(pmt->subtype, szSub, sizeof(szSub));
    Guid2Name(pmt->formattype, szFormat, sizeof(szFormat));
    if (bFull) {
        CHAR szSize[32] = "";
        BITMAPINFOHEADER bih;
        const ULONG cbOffset = BitmapHeaderOffset(pmt);
        if (cbOffset && ReadFormat(pmt, &bih, sizeof(bih), cbOffset))
            wsprintfA(szSize, " %d*%d", bih.biWidth, bih.biHeight);
        _snprintf(pszMediaType, cchMediaType, "( %s / %s / %s )%s\r\n", szMajor, szSub, szFormat, szSize);
    } else {
        _snprintf(pszMediaType, cchMediaType, "( %s / %s / %s )", szMajor, szSub, szFormat);
    }
    pszMediaType[cchMediaType - 1] = 0;
    return pszMediaType;
}

void Debug_MediaType(DWORD dwCategory, UINT nLevel, const AM_MEDIA_TYPE* pmt) {
    if (!IsDumped(dwCategory, nLevel))
        return;
    if (!pmt) {
        DSTrace(dwCategory, nLevel, "###Err### Debug_MediaType(): Empty media type pointer\n");
        return;
    }

    CHAR szType[GUID_NAME_SIZE];
    DSTrace(dwCategory, nLevel, "%s, size=%i, cbForm=%i, fix:%s, compr:%s\n",
            ParseMediaType(pmt, szType, sizeof(szType), FALSE), pmt->lSampleSize, pmt->cbFormat,
            pmt->bFixedSizeSamples ? "Y" : "N", pmt->bTemporalCompression ? "Y" : "N");
    // Addresses are printed by their low 32 bits, as the text's conversion takes.
    if (pmt->pUnk)
        DSTrace(dwCategory, nLevel, "MT : @@@@ pUnk = 0x%X\n", (UINT)(UINT_PTR)pmt->pUnk);

    if ((pmt->cbFormat == 0) != (pmt->pbFormat == NULL)) {
        DSTrace(dwCategory, nLevel,
                "###Err### Debug_MediaType(): bad format parameters, cbFormat=%i, pbFormat=0x%X\n",
                pmt->cbFormat, (UINT)(UINT_PTR)pmt->pbFormat);
        return;
    }
    if (!pmt->pbFormat)
        return;

    bool bBitmap = false;
    if (IsEqualGUID(pmt->formattype, FORMAT_VideoInfo) || IsEqualGUID(pmt->formattype, FORMAT_MPEGVideo)) {
        VIDEOINFOHEADER vih;
        if (ReadFormat(pmt, &vih, offsetof(VIDEOINFOHEADER, bmiHeader))) {
            TraceVideoRects(dwCategory, nLevel, vih.rcSource, vih.rcTarget, vih.dwBitRate, vih.dwBitErrorRate,
                            vih.AvgTimePerFrame);
            bBitmap = true;
        }
    } else if (IsEqualGUID(pmt->formattype, FORMAT_VideoInfo2) ||
               IsEqualGUID(pmt->formattype, FORMAT_MPEG2Video)) {
        VIDEOINFOHEADER2 vih2;
        if (ReadFormat(pmt, &vih2, offsetof(VIDEOINFOHEADER2, bmiHeader))) {
            TraceVideoRects(dwCategory, nLevel, vih2.rcSource, vih2.rcTarget, vih2.dwBitRate,
                            vih2.dwBitErrorRate, vih2.AvgTimePerFrame);
            DSTrace(dwCategory, nLevel, "MT: ilace=0x%X%s, copProt=0x%X, aspect={%i,%i}, ctrl=0x%X\n",
                    vih2.dwInterlaceFlags,
                    (vih2.dwInterlaceFlags & AMINTERLACE_IsInterlaced) ? " (INTERLACED)" : "",
                    vih2.dwCopyProtectFlags, vih2.dwPictAspectRatioX, vih2.dwPictAspectRatioY,
                    vih2.dwControlFlags);
            MPEG2VIDEOINFO mvi;
            if (IsEqualGUID(pmt->formattype, FORMAT_MPEG2Video) && ReadFormat(pmt, &mvi, sizeof(mvi))) {
                DSTrace(
                    dwCategory, nLevel,
                    "MT: startCode=0x%X, cbHeader=%u, profile=%u, level=%u, flags=0x%X, seqHeader[0]=0x%X\n",
                    mvi.dwStartTimeCode, mvi.cbSequenceHeader, mvi.dwProfile, mvi.dwLevel, mvi.dwFlags,
                    mvi.dwSequenceHeader[0]);
            }
            bBitmap = true;
        }
    } else if (IsEqualGUID(pmt->formattype, FORMAT_WaveFormatEx)) {
        WAVEFORMATEX wfx;
        if (ReadFormat(pmt, &wfx, sizeof(wfx)))
            Debug_WaveFormatEx(dwCategory, nLevel, &wfx, NULL);
    } else if (IsEqualGUID(pmt->formattype, FORMAT_DvInfo)) {
        DVINFO dv;
        if (ReadFormat(pmt, &dv, sizeof(dv)))
            Debug_DvInfo(dwCategory, nLevel, &dv, NULL);
    }

    // The bitmap header follows the video header; a block too short for it
    // gets no bitmap line.
    if (bBitmap) {
        BITMAPINFOHEADER bih;
        if (ReadFormat(pmt, &bih, sizeof(bih), BitmapHeaderOffset(pmt)))
            Debug_BitmapInfoHeader(dwCategory, nLevel, &bih, "MT (BMP): ");
    }
}

void Debug_WaveFormatEx(DWORD dwCategory, UINT nLevel, const WAVEFORMATEX* pwfx, LPCSTR pszPrefix) {
    if (!pwfx) {
        DSTrace(dwCategory, nLevel, "###Err### Debug_WaveFormatEx() : Empty WAVEFORMATEX pointer\n");
        return;
    }
    WAVEFORMATEX wfx;
    memcpy(&wfx, pwfx, sizeof(wfx));
    DSTrace(dwCategory, nLevel,
            "%sWAVEFORMATEX: Tag=0x%X, chan=%i, nPerSec=%i, nAvg=%i, align=%i, bits=%i  size=%i\n",
            pszPrefix ? pszPrefix : "", wfx.wFormatTag, wfx.nChannels, wfx.nSamplesPerSec,
            wfx.nAvgBytesPerSec, wfx.nBlockAlign, wfx.wBitsPerSample, wfx.cbSize);
}

void Debug_BitmapInfoHeader(DWORD dwCategory, UINT nLevel, const BITMAPINFOHEADER* pbih, LPCSTR pszPrefix) {
    if (!IsDumped(dwCategory, nLevel))
        return;
    if (!pszPrefix)
        pszPrefix = "BITMAPINFOHEADER: ";
    if (!pbih) {
        DSTrace(dwCategory, nLevel, "###Err### %sDebug_BitmapInfoHeader(): Empty header pointer\n",
                pszPrefix);
        return;
    }
    BITMAPINFOHEADER bih;
    memcpy(&bih, pbih, sizeof(bih));
    CHAR szCompression[GUID_NAME_SIZE];
    DSTrace(dwCategory, nLevel, "%ssize=%i, w=%i, h=%i, planes=%i, bits=%i, compress=%s, sizeImg=%i\n",
            pszPrefix, bih.biSize, bih.biWidth, bih.biHeight, bih.biPlanes, bih.biBitCount,
            Fourcc2Name(bih.biCompression, szCompression), bih.biSizeImage);

    CHAR szLine[GUID_NAME_SIZE] = "";
    if (bih.biXPelsPerMeter != 0 || bih.biYPelsPerMeter != 0)
        wsprintfA(szLine, "XPels=%i, YPels=%i", bih.biXPelsPerMeter, bih.biYPelsPerMeter);
    if (bih.biClrUsed != 0 || bih.biClrImportant != 0) {
        const size_t cch = strlen(szLine);
        wsprintfA(szLine + cch, cch ? ", ClrUsed=%u, ClrImp=%u" : "ClrUsed=%u, ClrImp=%u", bih.biClrUsed,
                  bih.biClrImportant);
    }
    if (szLine[0])
        DSTrace(dwCategory, nLevel, "%s%s\n", pszPrefix, szLine);
}

void Debug_DvInfo(DWORD dwCategory, UINT nLevel, const DVINFO* pdv, LPCSTR pszPrefix) {
    if (!IsDumped(dwCategory, nLevel))
        return;
    if (!pszPrefix)
        pszPrefix = "DVINFO: ";
    if (!pdv) {
        DSTrace(dwCategory, nLevel, "###Err### %sDebug_DvInfo(): Empty DVINFO pointer\n", pszPrefix);
        return;
    }
    DVINFO dv;
    memcpy(&dv, pdv, sizeof(dv));
    DSTrace(dwCategory, nLevel,
            "%s\n\tdwDVAAuxSrc=%08X, dwDVAAuxCtl=%08X (1st 5/6 DIF seq)\n\tdwDVAAuxSrc1=%08X, "
            "dwDVAAuxCtl1=%08X (2nd "
            "5/6 DIF seq)\n\tdwDVVAuxSrc=%08X, dwDVVAuxCtl=%08X (Video)\n",
            pszPrefix, dv.dwDVAAuxSrc, dv.dwDVAAuxCtl, dv.dwDVAAuxSrc1, dv.dwDVAAuxCtl1, dv.dwDVVAuxSrc,
            dv.dwDVVAuxCtl);
}

void Debug_Allocator(DWORD dwCategory, UINT nLevel, IMemAllocator* pAllocator, LPCSTR pszPrefix) {
    if (!IsDumped(dwCategory, nLevel))
        return;
    if (!pszPrefix)
        pszPrefix = "";
    if (!pAllocator) {
        DSTrace(dwCategory, nLevel, "###Err### %sDebug_Allocator(): Empty allocator pointer\n", pszPrefix);
        return;
    }
    ALLOCATOR_PROPERTIES props;
    const HRESULT hr = pAllocator->GetProperties(&props);
    if (FAILED(hr)) {
        DSTrace(dwCategory, nLevel, "###Err### %sDebug_Allocator(): pAllocator->GetProperties()=0x%X\n",
                pszPrefix, hr);
        return;
    }
    DSTrace(dwCategory, nLevel, "%sIMemAllocator=0x%X, props = { %i, %i, %i, %i }\n", pszPrefix,
            (UINT)(UINT_PTR)pAllocator, props.cBuffers, props.cbBuffer, props.cbAlign, props.cbPrefix);
}
