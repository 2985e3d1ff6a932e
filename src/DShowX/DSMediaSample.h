// The media sample: one buffer of a CMemoryAllocator with its times, flags
// and optional media type, handed out through IMediaSample/IMediaSample2.
//
// Samples are never created or freed on their own. The allocator keeps a pool
// of blocks of sizeof(CComSampleObject) bytes; GetBuffer builds a sample in a
// free block around a free buffer (CComSampleObject::InitInstance). The final
// Release gives the buffer back, tears the sample down and returns the block.
#pragma once

#include <windows.h>
#include <dshow.h>

#include "DShowX/DSComBase.h"

class CMemoryAllocator;

// The private flag bit of m_dwFlags: the media times are set. Never reported
// through GetProperties, never accepted through SetProperties.
#define SAMPLE_MEDIATIMEVALID 0x20

// The flag bits SetProperties accepts: the public AM_SAMPLE_* bits up to
// AM_SAMPLE_STOPVALID, without the private one.
#define SAMPLE_SETTABLE_FLAGS 0x1DF

// The sample's data and operations. Getters and setters take no lock: a
// sample is used by one thread at a time. The reference count is interlocked.
// The object root has no lock of its own: no operation needs one, and a
// critical section per sample would cost an initialisation (on Windows a heap
// allocation) on every GetBuffer.
class CMediaSample : public IMediaSample2, public CComObjectRootBase {
public:
    CMediaSample();
    ~CMediaSample();
    CMediaSample(const CMediaSample&) = delete;
    CMediaSample& operator=(const CMediaSample&) = delete;

    BEGIN_INTERFACE_TABLE(CMediaSample)
    INTERFACE_ENTRY(IMediaSample)
    INTERFACE_ENTRY(IMediaSample2)
    END_INTERFACE_TABLE()

    HRESULT FinalConstruct();
    // Gives the buffer back to the allocator and frees the media type.
    // ppNotify receives the allocator's release callback, to be called once
    // no lock is held.
    void FinalRelease(IMemAllocatorNotifyCallbackTemp** ppNotify);

    // IMediaSample
    STDMETHOD(GetPointer)(BYTE** ppBuffer) override;
    STDMETHOD_(LONG, GetSize)() override;
    STDMETHOD(GetTime)(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) override;
    STDMETHOD(SetTime)(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) override;
    STDMETHOD(IsSyncPoint)() override;
    STDMETHOD(SetSyncPoint)(BOOL bIsSyncPoint) override;
    STDMETHOD(IsPreroll)() override;
    STDMETHOD(SetPreroll)(BOOL bIsPreroll) override;
    STDMETHOD_(LONG, GetActualDataLength)() override;
    STDMETHOD(SetActualDataLength)(LONG lLen) override;
    STDMETHOD(GetMediaType)(AM_MEDIA_TYPE** ppMediaType) override;
    STDMETHOD(SetMediaType)(AM_MEDIA_TYPE* pMediaType) override;
    STDMETHOD(IsDiscontinuity)() override;
    STDMETHOD(SetDiscontinuity)(BOOL bDiscontinuity) override;
    STDMETHOD(GetMediaTime)(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) override;
    STDMETHOD(SetMediaTime)(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) override;
    // IMediaSample2
    STDMETHOD(GetProperties)(DWORD cbProperties, BYTE* pbProperties) override;
    STDMETHOD(SetProperties)(DWORD cbProperties, const BYTE* pbProperties) override;

    virtual LPCSTR GetDebugPrefix() const;

protected:
    HRESULT TestFlag(DWORD dwFlag, LPCSTR pszFormat);
    HRESULT SetFlag(DWORD dwFlag, BOOL bSet, LPCSTR pszFormat);

    BYTE* m_pBuffer;  // start of the buffer, in the allocator's block; not owned
    LONG m_cbBuffer;  // size of the buffer
    LONG m_lActual;   // valid bytes, 0..m_cbBuffer
    DWORD m_dwFlags;  // AM_SAMPLE_* bits and SAMPLE_MEDIATIMEVALID
    DWORD m_dwTypeSpecificFlags;
    AM_MEDIA_TYPE* m_pMediaType;  // owned; set exactly when AM_SAMPLE_TYPECHANGED is
    REFERENCE_TIME m_tStart;
    REFERENCE_TIME m_tStop;
    LONGLONG m_mtStart;
    LONGLONG m_mtStop;
    DWORD m_dwStreamId;
    CMemoryAllocator* m_pAllocator;  // the owning allocator; not counted
};

// The sample as the allocator builds it in one of its blocks.
class CComSampleObject final : public CMediaSample {
public:
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override;
    STDMETHOD_(ULONG, AddRef)() override;
    // The last release gives the buffer and the block back to the allocator.
    STDMETHOD_(ULONG, Release)() override;

    // Builds a sample in the cleared block pSample around pBuffer; on success
    // *ppMediaSample holds the only reference.
    static HRESULT InitInstance(void* pSample, CMemoryAllocator* pAlloc, BYTE* pBuffer, LONG cbBuffer,
                                IMediaSample** ppMediaSample);

    // The block belongs to the allocator: deleting a sample frees nothing.
    static void operator delete(void*) {}

private:
    void SetBuffer(BYTE* pBuffer, LONG cbBuffer);
};
