// The text picture of a filter graph that the filter writes to the outside
// log library each time it starts streaming: every filter with its class and
// name, every pin with its direction and name, and for every connection the
// peer filter and the media type.
//
//   (blank line)
//   [Filter Graph]------------------------------------------------------
//   (blank line)
//   Filter <class name> (<filter name>)
//   \t<INPUT|OUTPUT|UNKNOWN>: [<pin name>]    NOT CONNECTED
//   \t<INPUT|OUTPUT|UNKNOWN>: [<pin name>] -> [<peer filter>] ( major / sub / format )
//   ...
//   (blank line)
//   --------------------------------------------------------------------
//   (blank line)
//
// Lines end in "\r\n". A call that fails on the objects walked leaves a
// "###Err### " line at that place and the walk goes on with the next filter
// (or ends, when the graph's own enumeration fails), so the log shows how far
// the walk came.
#pragma once

#include <windows.h>
#include <dshow.h>

#include "DShowX/DSParsers.h"
#include "WinAPI/Containers.h"

class CFilterChainParser {
public:
    // Sorts the GUID name tables (once per process).
    CFilterChainParser();

    // The whole dump of the graph in a task-allocator block that the caller
    // frees with CoTaskMemFree. E_INVALIDARG for a null graph, E_POINTER for
    // a null out pointer, E_OUTOFMEMORY when the text cannot grow (nothing
    // is handed out then).
    HRESULT GetFiltersChain(IFilterGraph* pGraph, LPSTR* ppszChain);

    // Each appends its part to the text; false only when memory for the text
    // ran out (the text is empty then).
    bool GetFilterData(CTextBuffer& text, IBaseFilter* pFilter);
    bool GetPinData(CTextBuffer& text, IPin* pPin);
    bool GetPinMediaType(CTextBuffer& text, IPin* pPin);

private:
    CHAR m_szName[256];  // class names
};

// Writes the dump of the graph to the log library, when there is one (without
// one the graph is not walked); the filter base calls it when the filter
// leaves the stopped state, holding none of its locks. A null graph
// (a filter that has not joined one) or a dump that fails is traced and
// otherwise ignored: the dump never changes the state change.
void DumpGraphToLog(IFilterGraph* pGraph);
