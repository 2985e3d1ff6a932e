// Minimal COM objects for tests: they only count their references (and
// calls), so a test can see every reference taken and given back. They live
// on the stack and are never deleted through Release.
#pragma once

#include <windows.h>
#include <dshow.h>

#include <atomic>

namespace testsupport {

class CountingUnknown : public IUnknown {
public:
    STDMETHOD(QueryInterface)(REFIID, void** ppv) override {
        *ppv = NULL;
        return E_NOINTERFACE;
    }
    STDMETHOD_(ULONG, AddRef)() override { return ++m_nRef; }
    STDMETHOD_(ULONG, Release)() override { return --m_nRef; }
    std::atomic<ULONG> m_nRef{1};
};

class CountingNotify : public IMemAllocatorNotifyCallbackTemp {
public:
    STDMETHOD(QueryInterface)(REFIID, void** ppv) override {
        *ppv = NULL;
        return E_NOINTERFACE;
    }
    STDMETHOD_(ULONG, AddRef)() override { return ++m_nRef; }
    STDMETHOD_(ULONG, Release)() override { return --m_nRef; }
    STDMETHOD(NotifyRelease)() override {
        ++m_nCalls;
        OnNotify();
        return S_OK;
    }
    virtual void OnNotify() {}
    std::atomic<ULONG> m_nRef{1};
    std::atomic<long> m_nCalls{0};
};

}  // namespace testsupport
