// Allocator agreement for pull pins: the downstream pin's preferred allocator
// when it meets the request, else the library's own memory allocator.
#pragma once

#include <windows.h>
#include <dshow.h>

// Completes *pProps in place (cBuffers below 1 becomes 8, cbBuffer below 1
// becomes 65,536, cbAlign 0 becomes 512) and finds an allocator whose
// SetProperties answer meets it: every field at least as requested and a
// power-of-two alignment. pPreferred (may be null) is tried first. On success
// *ppActual holds the allocator with a reference for the caller; otherwise it
// is null and the result is E_FAIL or the allocator's own failure.
HRESULT AllocatorAgree(IMemAllocator* pPreferred, ALLOCATOR_PROPERTIES* pProps, IMemAllocator** ppActual);

// The range an IAsyncReader sample asks for (its times are byte positions
// times 10,000,000) and its buffer, checked as the agreed allocator's samples
// must be: E_INVALIDARG for a stop not after the start, E_FAIL for a buffer
// too small, VFW_E_BADALIGN for an end off lAlign (0: no check). pszCaller
// names the call in the traces.
HRESULT SampleRange(IMediaSample* pSample, LONG lAlign, LPCSTR pszCaller, LONGLONG* pllStart, LONG* plLength,
                    BYTE** ppb);
