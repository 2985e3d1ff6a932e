// Feeds IMediaSample2::SetProperties arbitrary records and sizes, with a media
// type in the record when the input asks for one. Whatever is accepted, the
// sample must stay consistent: the valid length fits the buffer, the type
// flag matches an attached type, and a round trip of GetProperties reads
// back what the sample holds.
#include <windows.h>
#include <dshow.h>

#include <stdint.h>
#include <string.h>

#include "DShowX/DSAllocators.h"
#include "DShowX/DSTypes.h"

namespace {

IMemAllocator* Allocator() {
    static IMemAllocator* s_pAlloc = [] {
        IMemAllocator* p = NULL;
        CreateMemoryAllocator(&p);
        ALLOCATOR_PROPERTIES req = {1, 64, 1, 0}, act;
        p->SetProperties(&req, &act);
        p->Commit();
        return p;
    }();
    return s_pAlloc;
}

void Check(bool b) {
    if (!b)
        __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    // The first byte picks how the record's pointers are filled, the second
    // the size passed (relative to the bytes given), the rest is the record.
    const uint8_t mode = data[0];
    const uint8_t sizeMode = data[1];
    data += 2;
    size -= 2;

    IMediaSample* pSample = NULL;
    if (Allocator()->GetBuffer(&pSample, NULL, NULL, AM_GBF_NOWAIT) != S_OK)
        __builtin_trap();
    IMediaSample2* p2 = NULL;
    pSample->QueryInterface(IID_IMediaSample2, reinterpret_cast<void**>(&p2));
    BYTE* pBuffer = NULL;
    pSample->GetPointer(&pBuffer);

    BYTE record[sizeof(AM_SAMPLE2_PROPERTIES) + 16];
    memset(record, 0, sizeof(record));
    memcpy(record, data, size < sizeof(record) ? size : sizeof(record));
    // Pointer fields cannot come from the input: they are chosen.
    CMType type(MEDIATYPE_Stream, MEDIASUBTYPE_MPEG2_PROGRAM);
    AM_MEDIA_TYPE* pType = (mode & 1) ? static_cast<AM_MEDIA_TYPE*>(&type) : NULL;
    BYTE* pbBuf = (mode & 2) ? pBuffer : ((mode & 4) ? pBuffer + 1 : NULL);
    memcpy(record + offsetof(AM_SAMPLE2_PROPERTIES, pMediaType), &pType, sizeof(pType));
    memcpy(record + offsetof(AM_SAMPLE2_PROPERTIES, pbBuffer), &pbBuf, sizeof(pbBuf));
    const DWORD cbPass = sizeMode % (sizeof(record) + 1);

    // The passed size never exceeds the bytes that exist.
    const HRESULT hr = p2->SetProperties(cbPass, record);
    (void)hr;
    if (mode & 8)
        p2->SetProperties(cbPass, record);  // twice: replaces an attached type

    AM_SAMPLE2_PROPERTIES props;
    Check(p2->GetProperties(sizeof(props), reinterpret_cast<BYTE*>(&props)) == S_OK);
    Check(props.lActual >= 0 && props.lActual <= props.cbBuffer);
    Check(props.cbBuffer == 64 && props.pbBuffer == pBuffer);
    Check((props.dwSampleFlags & ~(DWORD)SAMPLE_SETTABLE_FLAGS) == 0);
    AM_MEDIA_TYPE* pmt = NULL;
    const HRESULT hrType = p2->GetMediaType(&pmt);
    Check((props.dwSampleFlags & AM_SAMPLE_TYPECHANGED) ? (hrType == S_OK && pmt)
                                                        : (hrType == S_FALSE && !pmt));
    MTFree(pmt);
    // A round trip of what was read back is accepted.
    Check(p2->SetProperties(sizeof(props), reinterpret_cast<BYTE*>(&props)) == S_OK);

    p2->Release();
    pSample->Release();
    return 0;
}
