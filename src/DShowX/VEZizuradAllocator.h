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
