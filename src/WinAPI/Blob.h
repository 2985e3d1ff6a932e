// An owned block of committed virtual memory, reused while it is big enough.
#pragma once

#include <windows.h>

class CBlob {
public:
    CBlob();
    ~CBlob();
    CBlob(const CBlob&) = delete;
    CBlob& operator=(const CBlob&) = delete;

    // Makes the block cbSize bytes long. Memory that is already large enough
    // is kept; otherwise it is released and new read-write memory is committed
    // with a capacity of cbSize rounded up to whole 4 KiB pages. Without
    // memory the block ends up empty (size, pointer and capacity 0) and the
    // result is E_OUTOFMEMORY. With bFill the first cbSize bytes are set to
    // bFillByte.
    HRESULT AllocMem(DWORD cbSize, BOOL bFill = FALSE, BYTE bFillByte = 0);

    // The address of byte dwOffset, or null when it lies past the size.
    BYTE* Offset(DWORD dwOffset) const;

    // False while the size is 0.
    BOOL IsValid() const;

    DWORD Size() const { return m_blobData.cbData; }
    DWORD Capacity() const { return m_cbCapacity; }

    // Empties the block (size 0) but keeps its memory for the next AllocMem.
    void Empty() { m_blobData.cbData = 0; }

private:
    void FreeMem();

    struct {
        DWORD cbData;  // the size last asked for
        BYTE* pbData;  // the memory, or null
    } m_blobData;
    DWORD m_cbCapacity;  // committed bytes at pbData
};
