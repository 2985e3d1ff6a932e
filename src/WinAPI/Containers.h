// Containers of the library.
#pragma once

#include <windows.h>

// A growing 8-bit text in one block of COM task memory, for texts handed on
// to other modules (the caller of Detach frees the block with CoTaskMemFree).
// Once a block exists the text is always terminated.
//
// A request that needs n bytes grows a block smaller than that (or makes the
// first one) to the next multiple of 4096 strictly above n, so the first
// reservation of 4096 bytes yields 8192. When memory runs out the block is
// freed and the buffer is empty again: text, capacity and length all 0.
// Not locked: the one thread that builds the text owns the buffer.
class CTextBuffer {
public:
    CTextBuffer() : m_pszText(NULL), m_cbCapacity(0), m_cchLength(0) {}
    ~CTextBuffer() { Free(); }
    CTextBuffer(const CTextBuffer&) = delete;
    CTextBuffer& operator=(const CTextBuffer&) = delete;

    // Makes room for cbNeeded bytes, terminator included; false (and an empty
    // buffer) when memory runs out.
    bool Reserve(UINT cbNeeded);
    // Appends the text; an empty text changes nothing. False (and an empty
    // buffer) when memory runs out.
    bool Append(LPCSTR psz);
    // Hands the block (null when there is none) to the caller and empties the
    // buffer.
    LPSTR Detach();

    LPCSTR GetText() const { return m_pszText; }
    UINT GetLength() const { return m_cchLength; }
    UINT GetCapacity() const { return m_cbCapacity; }

private:
    void Free();

    LPSTR m_pszText;    // null until the first reservation
    UINT m_cbCapacity;  // bytes of the block
    UINT m_cchLength;   // characters in use, without the terminator
};
