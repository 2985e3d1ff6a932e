#include "DShowX/DSGraphDump.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "DShowX/DSComBase.h"
#include "DShowX/DSTrace.h"
#include "DShowX/DSTypes.h"

namespace {

const UINT kLineSize = 512;
const int kMediaTypeSize = 256;

// Formats one line in a fixed buffer (a longer line is cut) and appends it.
bool AppendFormat(CTextBuffer& text, LPCSTR pszFormat, ...) {
    CHAR szLine[kLineSize];
    va_list args;
    va_start(args, pszFormat);
    _vsnprintf(szLine, sizeof(szLine), pszFormat, args);
    va_end(args);
    szLine[sizeof(szLine) - 1] = 0;
    return text.Append(szLine);
}

// A filter or pin name (at most cchMax wide characters, terminated or not) in
// the 8-bit code page; empty when it does not convert.
void NarrowName(const WCHAR* pwsz, int cchMax, LPSTR pszOut, int cbOut) {
    int cch = 0;
    while (cch < cchMax && pwsz[cch])
        ++cch;
    const int n = cch ? WideCharToMultiByte(CP_ACP, 0, pwsz, cch, pszOut, cbOut - 1, NULL, NULL) : 0;
    pszOut[n > 0 ? n : 0] = 0;
}

// Room for a name of MAX_FILTER_NAME (= MAX_PIN_NAME) wide characters in
// UTF-8, the widest 8-bit form.
const int kNameSize = 4 * MAX_FILTER_NAME;

LPCSTR DirectionName(PIN_DIRECTION dir) {
    switch (dir) {
        case PINDIR_INPUT:
            return "INPUT";
        case PINDIR_OUTPUT:
            return "OUTPUT";
        default:
            return "UNKNOWN";
    }
}

}  // namespace

CFilterChainParser::CFilterChainParser() {
    m_szName[0] = 0;
    SortGuidNameTables();
}

HRESULT CFilterChainParser::GetFiltersChain(IFilterGraph* pGraph, LPSTR* ppszChain) {
    ASSERT(pGraph != NULL);
    ASSERT(ppszChain != NULL);
    if (!ppszChain)
        return E_POINTER;
    *ppszChain = NULL;
    if (!pGraph)
        return E_INVALIDARG;

    CTextBuffer text;
    if (!text.Reserve(4096) ||
        !text.Append("\r\n[Filter Graph]------------------------------------------------------\r\n"))
        return E_OUTOFMEMORY;

    CComPtr<IEnumFilters> spEnum;
    HRESULT hr = pGraph->EnumFilters(&spEnum);
    if (SUCCEEDED(hr) && !spEnum)
        hr = E_POINTER;
    if (FAILED(hr)) {
        if (!AppendFormat(
                text, "###Err### CFilterChainParser::GetFiltersChain(): pGraph->EnumFilters()=0x%X\r\n", hr))
            return E_OUTOFMEMORY;
        *ppszChain = text.Detach();
        return S_OK;
    }

    spEnum->Reset();
    for (;;) {
        IBaseFilter* pFilter = NULL;
        ULONG cFetched = 0;
        hr = spEnum->Next(1, &pFilter, &cFetched);
        if (hr == S_FALSE)
            break;
        if (FAILED(hr)) {
            if (!AppendFormat(text,
                              "###Err### CFilterChainParser::GetFiltersChain(): spEnum->Next()=0x%X\r\n", hr))
                return E_OUTOFMEMORY;
            break;
        }
        ASSERT(cFetched == 1);
        if (!pFilter)
            break;  // an enumerator that claims a filter and hands out none
        const bool bOk = GetFilterData(text, pFilter);
        pFilter->Release();
        if (!bOk)
            return E_OUTOFMEMORY;
    }

    if (!text.Append("\r\n--------------------------------------------------------------------\r\n\r\n"))
        return E_OUTOFMEMORY;
    *ppszChain = text.Detach();
    return S_OK;
}

bool CFilterChainParser::GetFilterData(CTextBuffer& text, IBaseFilter* pFilter) {
    ASSERT(pFilter != NULL);
    if (!pFilter)
        return true;

    FILTER_INFO info;
    memset(&info, 0, sizeof(info));
    HRESULT hr = pFilter->QueryFilterInfo(&info);
    if (FAILED(hr))
        return AppendFormat(
            text, "###Err### CFilterChainParser::GetFilterData(): pFilter->QueryFilterInfo()=0x%X\r\n\r\n",
            hr);
    if (info.pGraph)
        info.pGraph->Release();

    CLSID clsid;
    hr = pFilter->GetClassID(&clsid);
    if (FAILED(hr))
        return AppendFormat(
            text, "###Err### CFilterChainParser::GetFilterData(): pFilter->GetClassID()=0x%X\r\n\r\n", hr);

    CHAR szName[kNameSize];
    NarrowName(info.achName, MAX_FILTER_NAME, szName, sizeof(szName));
    if (!AppendFormat(text, "\r\nFilter %s (%s)\r\n", Guid2Name(clsid, m_szName, sizeof(m_szName)), szName))
        return false;

    CComPtr<IEnumPins> spEnum;
    hr = pFilter->EnumPins(&spEnum);
    if (SUCCEEDED(hr) && !spEnum)
        hr = E_POINTER;
    if (FAILED(hr))
        return AppendFormat(
            text, "###Err### CFilterChainParser::GetFilterData(): pFilter->EnumPins()=0x%X\r\n\r\n", hr);

    spEnum->Reset();
    for (;;) {
        IPin* pPin = NULL;
        ULONG cFetched = 0;
        hr = spEnum->Next(1, &pPin, &cFetched);
        if (hr == S_FALSE)
            return true;
        if (FAILED(hr))
            return AppendFormat(
                text, "###Err### CFilterChainParser::GetFilterData(): spEnum->Next()=0x%X\r\n\r\n", hr);
        ASSERT(cFetched == 1);
        if (!pPin)
            return true;
        const bool bOk = GetPinData(text, pPin);
        pPin->Release();
        if (!bOk)
            return false;
    }
}

bool CFilterChainParser::GetPinData(CTextBuffer& text, IPin* pPin) {
    ASSERT(pPin != NULL);
    if (!pPin)
        return true;

    PIN_INFO rgInfo;
    memset(&rgInfo, 0, sizeof(rgInfo));
    HRESULT hr = pPin->QueryPinInfo(&rgInfo);
    if (FAILED(hr))
        return AppendFormat(
            text, "###Err### CFilterChainParser::GetPinData(): pPin->QueryPinInfo()=0x%X\r\n\r\n", hr);
    ASSERT(rgInfo.pFilter != NULL);
    if (rgInfo.pFilter)
        rgInfo.pFilter->Release();

    CHAR szName[kNameSize];
    NarrowName(rgInfo.achName, MAX_PIN_NAME, szName, sizeof(szName));
    if (!AppendFormat(text, "\t%s: [%s]", DirectionName(rgInfo.dir), szName))
        return false;

    CComPtr<IPin> spPinConnected;
    hr = pPin->ConnectedTo(&spPinConnected);
    if (hr == VFW_E_NOT_CONNECTED)
        return text.Append("    NOT CONNECTED\r\n");
    if (SUCCEEDED(hr) && !spPinConnected)
        hr = E_POINTER;
    if (FAILED(hr))
        return AppendFormat(
            text, "\r\n###Err### CFilterChainParser::GetPinData(): pPin->ConnectedTo()=0x%X\r\n", hr);

    memset(&rgInfo, 0, sizeof(rgInfo));
    hr = spPinConnected->QueryPinInfo(&rgInfo);
    if (FAILED(hr))
        return AppendFormat(
            text, "\r\n###Err### CFilterChainParser::GetPinData(): spPinConnected->QueryPinInfo()=0x%X\r\n",
            hr);
    ASSERT(rgInfo.pFilter != NULL);
    CComPtr<IBaseFilter> spConnectedFilter;
    spConnectedFilter.Attach(rgInfo.pFilter);

    FILTER_INFO rgFilterInfo;
    memset(&rgFilterInfo, 0, sizeof(rgFilterInfo));
    // A peer pin without a filter is reported like a filter that cannot say
    // who it is.
    hr = spConnectedFilter ? spConnectedFilter->QueryFilterInfo(&rgFilterInfo) : E_POINTER;
    if (FAILED(hr))
        return AppendFormat(
            text,
            "\r\n###Err### CFilterChainParser::GetPinData(): spConnectedFilter->QueryFilterInfo()=0x%X\r\n",
            hr);
    ASSERT(rgFilterInfo.pGraph != NULL);
    if (rgFilterInfo.pGraph)
        rgFilterInfo.pGraph->Release();

    NarrowName(rgFilterInfo.achName, MAX_FILTER_NAME, szName, sizeof(szName));
    if (!AppendFormat(text, " -> [%s] ", szName))
        return false;
    return GetPinMediaType(text, pPin);
}

bool CFilterChainParser::GetPinMediaType(CTextBuffer& text, IPin* pPin) {
    ASSERT(pPin != NULL);
    if (!pPin)
        return true;

    CComPtr<IPin> spPinConnected;
    if (pPin->ConnectedTo(&spPinConnected) != S_OK)
        return true;

    CMType mt;  // frees the format block and pUnk the pin hands out
    const HRESULT hr = pPin->ConnectionMediaType(&mt);
    if (FAILED(hr))
        return AppendFormat(
            text, "\r\n###Err### CFilterChainParser::GetPinMediaType(): pPin->ConnectionMediaType()=0x%X\r\n",
            hr);
    CHAR szMediaType[kMediaTypeSize];
    return text.Append(ParseMediaType(&mt, szMediaType, sizeof(szMediaType), TRUE));
}

void DumpGraphToLog(IFilterGraph* pGraph) {
    // Without a log the graph is not walked at all.
    ILogObject* pLog = NULL;
    if (FAILED(GetLogObject(&pLog)))
        return;
    if (!pGraph) {
        DSTrace(TRACE_GENERAL, 2, "###Err### _FilterBase::ParseGraphToLogFile(): empty graph pointer\n");
        return;
    }
    CComPtr<IFilterGraph> spGraph(pGraph);
    CFilterChainParser parser;
    LPSTR pszChain = NULL;
    const HRESULT hr = parser.GetFiltersChain(spGraph, &pszChain);
    if (FAILED(hr)) {
        DSTrace(TRACE_GENERAL, 2, "###Err### _FilterBase::ParseGraphToLogFile(): GetFiltersChain()=0x%X\n",
                hr);
        return;
    }
    // The log library is foreign code: whatever it throws stays here.
    try {
        pLog->Write((ULONG)strlen(pszChain), pszChain);
    } catch (...) {
    }
    CoTaskMemFree(pszChain);
}
