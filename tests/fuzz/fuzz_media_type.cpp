// Copies, duplicates, assigns and dumps media types with arbitrary cbFormat
// and pbFormat combinations: an inconsistent record is refused and leaves the
// destination as it was; a consistent one is copied whole; references to pUnk
// always balance; nothing is read past the format block.
#include <windows.h>
#include <dshow.h>

#include <stdint.h>
#include <string.h>

#include "DShowX/DSParsers.h"
#include "DShowX/DSTrace.h"
#include "DShowX/DSTypes.h"
#include "../support/ComStubs.h"

namespace {

using testsupport::CountingUnknown;

void Check(bool b) {
    if (!b)
        __builtin_trap();
}

const GUID* const s_arrFormats[] = {
    &FORMAT_VideoInfo,    &FORMAT_VideoInfo2, &FORMAT_MPEGVideo, &FORMAT_MPEG2Video,
    &FORMAT_WaveFormatEx, &FORMAT_DvInfo,     &FORMAT_None,      &GUID_NULL};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 6)
        return 0;
    const uint8_t mode = data[0];
    const uint8_t formatIndex = data[1];
    uint32_t cbClaim;
    memcpy(&cbClaim, data + 2, 4);
    data += 6;
    size -= 6;

    CountingUnknown unk;
    // The block is exactly the input's bytes, in an allocation of that size.
    BYTE* pbBlock = size ? static_cast<BYTE*>(CoTaskMemAlloc(size)) : NULL;
    if (size)
        memcpy(pbBlock, data, size);

    AM_MEDIA_TYPE mt;
    MTInit(&mt, MEDIATYPE_Video, MEDIASUBTYPE_YUY2);
    mt.formattype = *s_arrFormats[formatIndex % (sizeof(s_arrFormats) / sizeof(s_arrFormats[0]))];
    mt.pUnk = (mode & 1) ? &unk : NULL;
    mt.pbFormat = (mode & 2) ? NULL : pbBlock;
    // Either the true size, zero, or (for dumps of a null block only) a claim.
    mt.cbFormat = (mode & 4) ? 0 : (ULONG)size;
    if ((mode & 2) && (mode & 8))
        mt.cbFormat = cbClaim;
    const bool bConsistent = (mt.pbFormat == NULL) == (mt.cbFormat == 0);

    AM_MEDIA_TYPE dst;
    memset(&dst, 0xEE, sizeof(dst));
    const AM_MEDIA_TYPE before = dst;
    const HRESULT hr = MTCopy(&dst, &mt);
    Check(SUCCEEDED(hr) == bConsistent);
    if (SUCCEEDED(hr)) {
        Check(dst.cbFormat == mt.cbFormat);
        Check(mt.cbFormat == 0 || memcmp(dst.pbFormat, mt.pbFormat, mt.cbFormat) == 0);
        CoTaskMemFree(dst.pbFormat);
        if (dst.pUnk)
            dst.pUnk->Release();
    } else {
        Check(memcmp(&dst, &before, sizeof(dst)) == 0);
    }
    Check(unk.m_nRef == 1);

    {
        CMType cmt(MEDIATYPE_Audio, MEDIASUBTYPE_PCM);
        const HRESULT hrSet = cmt.Set(&mt);
        Check(SUCCEEDED(hrSet) == bConsistent);
        if (FAILED(hrSet))
            Check(IsEqualGUID(cmt.majortype, MEDIATYPE_Audio) && cmt.pbFormat == NULL);
        AM_MEDIA_TYPE* pDup = MTDup(&mt);
        Check((pDup != NULL) == bConsistent);
        MTFree(pDup);
        CHAR sz[256];
        ParseMediaType(&cmt, sz, sizeof(sz), TRUE);
        Debug_MediaType(TRACE_APP1, 8, &cmt);
    }
    Check(unk.m_nRef == 1);

    // Dumps read only what cbFormat covers; only consistent claims are dumped
    // with a block, so the claim never exceeds the allocation.
    if (bConsistent) {
        CHAR sz[256];
        ParseMediaType(&mt, sz, (int)(1 + cbClaim % sizeof(sz)), mode & 16);
        Debug_MediaType(TRACE_APP1, 8, &mt);
    }
    CoTaskMemFree(pbBlock);
    return 0;
}
