#include "DShowX/DSTypes.h"

#include <string.h>

#include "DShowX/DSTrace.h"

void MTInit(AM_MEDIA_TYPE* pmt, REFGUID majortype, REFGUID subtype) {
    ASSERT(pmt != NULL);
    if (!pmt)
        return;
    memset(pmt, 0, sizeof(*pmt));
    pmt->majortype = majortype;
    pmt->subtype = subtype;
    pmt->bFixedSizeSamples = TRUE;
    pmt->lSampleSize = 1;
}

BYTE* MTAllocFormat(ULONG cbSource, const BYTE* pSource) {
    ASSERT(cbSource > 0);
    if (cbSource == 0)
        return NULL;
    BYTE* pb = static_cast<BYTE*>(CoTaskMemAlloc(cbSource));
    if (!pb) {
        ASSERT(!_T("MTAllocFormat() : CoTaskMemAlloc() == NULL"));
        return NULL;
    }
    if (pSource)
        memcpy(pb, pSource, cbSource);
    else
        memset(pb, 0, cbSource);
    return pb;
}

HRESULT MTCopyFormat(const AM_MEDIA_TYPE* pmt, BYTE** ppbFormat) {
    ASSERT(pmt != NULL);
    if (!pmt)
        return E_INVALIDARG;
    ASSERT(ppbFormat != NULL);
    if (!ppbFormat)
        return E_POINTER;
    *ppbFormat = NULL;
    if (pmt->pbFormat) {
        ASSERT(pmt->cbFormat != 0);
        if (pmt->cbFormat == 0)
            return E_UNEXPECTED;
        *ppbFormat = MTAllocFormat(pmt->cbFormat, pmt->pbFormat);
        return *ppbFormat ? S_OK : E_OUTOFMEMORY;
    }
    ASSERT(pmt->cbFormat == 0);
    return pmt->cbFormat == 0 ? S_OK : E_UNEXPECTED;
}

HRESULT MTCopy(AM_MEDIA_TYPE* pDst, const AM_MEDIA_TYPE* pSrc) {
    ASSERT(pDst != NULL);
    if (!pDst)
        return E_INVALIDARG;
    BYTE* pbFormat = NULL;
    const HRESULT hr = MTCopyFormat(pSrc, &pbFormat);
    if (FAILED(hr))
        return hr;
    *pDst = *pSrc;
    pDst->pbFormat = pbFormat;
    if (pDst->pUnk)
        pDst->pUnk->AddRef();
    return S_OK;
}

AM_MEDIA_TYPE* MTDup(const AM_MEDIA_TYPE* pSrc) {
    if (!pSrc)
        return NULL;
    AM_MEDIA_TYPE* pmt = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (!pmt) {
        ASSERT(!_T("MTDup() : CoTaskMemAlloc() == NULL"));
        return NULL;
    }
    if (FAILED(MTCopy(pmt, pSrc))) {
        CoTaskMemFree(pmt);
        return NULL;
    }
    return pmt;
}

void MTFree(AM_MEDIA_TYPE* pmt) {
    if (!pmt)
        return;
    CoTaskMemFree(pmt->pbFormat);
    if (pmt->pUnk)
        pmt->pUnk->Release();
    CoTaskMemFree(pmt);
}

CMType::CMType() {
    MTInit(this, GUID_NULL, GUID_NULL);
}

CMType::CMType(REFGUID majortype, REFGUID subtype) {
    MTInit(this, majortype, subtype);
}

CMType::CMType(const CMType& mt) : CMType() {
    if (FAILED(Set(&mt)))
        ASSERT(!_T("CMType(const CMType& mt) FAILED"));
}

CMType::~CMType() {
    FreeContent();
}

void CMType::FreeContent() {
    CoTaskMemFree(pbFormat);
    pbFormat = NULL;
    cbFormat = 0;
    // Cleared before the release: the release may run code that looks here.
    IUnknown* pOldUnk = pUnk;
    pUnk = NULL;
    if (pOldUnk)
        pOldUnk->Release();
}

HRESULT CMType::Set(const AM_MEDIA_TYPE* pmt) {
    if (!pmt) {
        FreeContent();
        MTInit(this, GUID_NULL, GUID_NULL);
        return S_OK;
    }
    if (pmt == this)
        return S_OK;

    BYTE* pbNewFormat = NULL;
    const HRESULT hr = MTCopyFormat(pmt, &pbNewFormat);
    if (FAILED(hr))
        return hr;
    // The new reference first: pmt may be owned by what the old one keeps alive.
    if (pmt->pUnk)
        pmt->pUnk->AddRef();
    BYTE* pbOldFormat = pbFormat;
    IUnknown* pOldUnk = pUnk;
    *static_cast<AM_MEDIA_TYPE*>(this) = *pmt;
    pbFormat = pbNewFormat;
    CoTaskMemFree(pbOldFormat);
    if (pOldUnk)
        pOldUnk->Release();
    return S_OK;
}

HRESULT CMType::Dup(AM_MEDIA_TYPE** ppmt) const {
    ASSERT(ppmt != NULL);
    if (!ppmt)
        return E_POINTER;
    *ppmt = MTDup(this);
    return *ppmt ? S_OK : E_FAIL;
}

HRESULT CMType::GetAt(ULONG nPos, AM_MEDIA_TYPE** ppmt) const {
    if (!IsSet() || nPos != 0)
        return S_FALSE;
    return Dup(ppmt);
}
