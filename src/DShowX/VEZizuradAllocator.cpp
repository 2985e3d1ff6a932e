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
