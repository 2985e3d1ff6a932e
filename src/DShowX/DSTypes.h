// Media types: the routines that create, copy, duplicate and free them, and
// CMType, an AM_MEDIA_TYPE that owns its format block and pUnk reference.
//
// Ownership everywhere: pbFormat is task-allocator memory owned by the record
// that points to it, and is null exactly when cbFormat is 0; pUnk is a counted
// reference owned by the record. A record handed to another object (MTDup) is
// task-allocator memory too, so any receiver can free it with MTFree.
#pragma once

#include <windows.h>
#include <dshow.h>

// Makes *pmt the empty media type with the given major type and subtype:
// all zero except bFixedSizeSamples = TRUE and lSampleSize = 1.
void MTInit(AM_MEDIA_TYPE* pmt, REFGUID majortype, REFGUID subtype);

// A new task-allocator block of cbSource bytes, copied from pSource or zeroed
// when pSource is null; null when cbSource is 0 or memory runs out.
BYTE* MTAllocFormat(ULONG cbSource, const BYTE* pSource);

// *ppbFormat = a new copy of pmt's format block, or null when it has none.
// A record whose pbFormat and cbFormat disagree gives E_UNEXPECTED.
HRESULT MTCopyFormat(const AM_MEDIA_TYPE* pmt, BYTE** ppbFormat);

// Makes *pDst an independent copy of *pSrc (own format block, pUnk
// add-referenced). Does not free what *pDst held: meant for fresh storage. On
// failure *pDst is untouched.
HRESULT MTCopy(AM_MEDIA_TYPE* pDst, const AM_MEDIA_TYPE* pSrc);

// A new task-allocator record holding an independent copy of *pSrc, or null.
AM_MEDIA_TYPE* MTDup(const AM_MEDIA_TYPE* pSrc);

// Frees the format block, releases pUnk and frees the record (from MTDup or
// the platform's equivalent). Null does nothing.
void MTFree(AM_MEDIA_TYPE* pmt);

// An owning media type value. Adds no fields and no virtual functions, so it
// can be passed wherever an AM_MEDIA_TYPE is expected. Not locked: the object
// that holds one guards it.
class CMType : public AM_MEDIA_TYPE {
public:
    CMType();
    CMType(REFGUID majortype, REFGUID subtype);
    // A failed copy is reported and leaves the new object empty.
    CMType(const CMType& mt);
    ~CMType();
    CMType& operator=(const CMType&) = delete;

    // Assigns a copy of *pmt, or empties the object for null. On failure the
    // object keeps its old value.
    HRESULT Set(const AM_MEDIA_TYPE* pmt);
    // *ppmt = an MTDup copy of the object; E_FAIL when no copy was made.
    HRESULT Dup(AM_MEDIA_TYPE** ppmt) const;
    // The object as a list of at most one media type: entry 0 when set
    // (majortype not GUID_NULL), else S_FALSE with *ppmt untouched.
    HRESULT GetAt(ULONG nPos, AM_MEDIA_TYPE** ppmt) const;

    bool IsSet() const { return !IsEqualGUID(majortype, GUID_NULL); }

private:
    void FreeContent();
};
