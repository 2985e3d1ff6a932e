#include "DShowX/VEZizuradAllocator.h"

#include "DShowX/DSMemoryAllocator.h"
#include "DShowX/DSParsers.h"
#include "DShowX/DSTrace.h"

namespace {

// Asks the allocator for the request and checks its answer.
HRESULT TryAllocator(IMemAllocator* pAllocator, const ALLOCATOR_PROPERTIES& request) {
    ALLOCATOR_PROPERTIES asked = request;
    ALLOCATOR_PROPERTIES actual = {};
    const HRESULT hr = pAllocator->SetProperties(&asked, &actual);
    if (FAILED(hr))
        return hr;
    const bool bPowerOfTwo = actual.cbAlign > 0 && (actual.cbAlign & (actual.cbAlign - 1)) == 0;
    const bool bEnough = actual.cBuffers >= request.cBuffers && actual.cbBuffer >= request.cbBuffer &&
                         actual.cbAlign >= request.cbAlign && actual.cbPrefix >= request.cbPrefix;
    return bPowerOfTwo && bEnough ? S_OK : E_FAIL;
}

}  // namespace

HRESULT AllocatorAgree(IMemAllocator* pPreferred, ALLOCATOR_PROPERTIES* pProps, IMemAllocator** ppActual) {
    ASSERT(pProps != NULL);
    if (!pProps)
        return E_INVALIDARG;
    ASSERT(ppActual != NULL);
    if (!ppActual)
        return E_POINTER;
    *ppActual = NULL;

    if (pProps->cBuffers < 1)
        pProps->cBuffers = 8;
    if (pProps->cbBuffer < 1)
        pProps->cbBuffer = 65536;
    if (pProps->cbAlign == 0)
        pProps->cbAlign = 512;

    if (pPreferred && TryAllocator(pPreferred, *pProps) == S_OK) {
        pPreferred->AddRef();
        *ppActual = pPreferred;
        Debug_Allocator(TRACE_GENERAL, 8, pPreferred, NULL);
        return S_OK;
    }

    IMemAllocator* pOwn = NULL;
    HRESULT hr = CreateMemoryAllocator(&pOwn);
    if (FAILED(hr))
        return hr;
    hr = TryAllocator(pOwn, *pProps);
    if (hr != S_OK) {
        pOwn->Release();
        return hr;
    }
    *ppActual = pOwn;
    Debug_Allocator(TRACE_GENERAL, 8, pOwn, NULL);
    return S_OK;
}

HRESULT SampleRange(IMediaSample* pSample, LONG lAlign, LPCSTR pszCaller, LONGLONG* pllStart, LONG* plLength,
                    BYTE** ppb) {
    if (!pSample)
        return RefuseCall(E_POINTER, "SampleRange - null sample");
    REFERENCE_TIME rtStart = 0, rtStop = 0;
    HRESULT hr = pSample->GetTime(&rtStart, &rtStop);
    if (FAILED(hr)) {
        DSTrace(TRACE_APP2, 1, "###Err### %s - pSample->GetTime() FAILED hr = 0x%08X\n", pszCaller, hr);
        return hr;
    }
    // Sample times carry byte positions times 10,000,000. The splitter's
    // request, not our state: a bad one gets its code.
    const LONGLONG llStart = rtStart / 10000000;
    const LONGLONG llStop = rtStop / 10000000;
    if (rtStop <= rtStart || llStop < llStart)
        return RefuseCall(E_INVALIDARG, "SampleRange - stop time not after start time");
    CHAR szA[CONV_BUFFER_SIZE], szB[CONV_BUFFER_SIZE];
    const LONG cbBuffer = pSample->GetSize();
    if ((LONGLONG)cbBuffer < llStop - llStart) {
        DSTrace(TRACE_APP2, 1, "###Err### %s - INSUFFICIENT BUFFER ( Need: %s Have: %s )\n", pszCaller,
                LL2Str(llStop - llStart, szA), LL2Str(cbBuffer, szB));
        return E_FAIL;
    }
    if (llStart < 0)
        return RefuseCall(E_INVALIDARG, "SampleRange - a start before the file");
    if (lAlign != 0 && (llStart % lAlign != 0 || llStop % lAlign != 0)) {
        DSTrace(TRACE_APP2, 1, "###Err### %s - INVALID ALIGMENT ( Start: %d - Stop: %d )\n", pszCaller,
                (int)(llStart % lAlign), (int)(llStop % lAlign));
        return VFW_E_BADALIGN;
    }
    hr = pSample->GetPointer(ppb);
    if (FAILED(hr)) {
        DSTrace(TRACE_APP2, 1, "###Err### %s - pSample->GetPointer() FAILED hr = 0x%08X\n", pszCaller, hr);
        return hr;
    }
    if (!*ppb)
        return RefuseCall(E_POINTER, "SampleRange - sample without a buffer");
    *pllStart = llStart;
    *plLength = (LONG)(llStop - llStart);
    return S_OK;
}
