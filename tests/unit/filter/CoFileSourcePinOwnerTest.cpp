// The pin knows the filter that owns it outside a graph too: QueryPinInfo
// hands out that filter, add-referenced, before the filter joins a graph
// (graph tools look at pins first, and a caller may release what it gets),
// and once the filter has gone it fails with a code of its own instead of
// a null filter. The pin never brings back a filter whose last reference
// is going on another thread.
#include <windows.h>
#include <dshow.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "CoFileSource.h"
#include "RegistrySandbox.h"

using namespace testsupport;

namespace {

IPin* OutputPin(IBaseFilter* pFilter) {
    IPin* pPin = NULL;
    EXPECT_EQ(S_OK, pFilter->FindPin(L"Output", &pPin));
    return pPin;
}

IBaseFilter* NewFilter() {
    IBaseFilter* pFilter = NULL;
    EXPECT_EQ(S_OK, CComCreator<CCoFileSource>::CreateInstance(NULL, IID_IBaseFilter,
                                                               reinterpret_cast<void**>(&pFilter)));
    return pFilter;
}

TEST(PinOwner, OutsideAGraphThePinNamesItsFilterUntilTheFilterGoes) {
    RegistrySandbox registry;
    IBaseFilter* pFilter = NewFilter();
    ASSERT_NE(nullptr, pFilter);
    IPin* pPin = OutputPin(pFilter);
    ASSERT_NE(nullptr, pPin);

    PIN_INFO info = {};
    ASSERT_EQ(S_OK, pPin->QueryPinInfo(&info));
    EXPECT_EQ(pFilter, info.pFilter);
    EXPECT_EQ(PINDIR_OUTPUT, info.dir);
    // The reference handed out is the caller's: releasing it leaves the
    // filter with the one the test holds.
    pFilter->AddRef();
    EXPECT_EQ(2u, info.pFilter->Release());
    EXPECT_EQ(1u, pFilter->Release());

    // The filter goes while its pin is still held.
    EXPECT_EQ(0u, pFilter->Release());
    info = PIN_INFO();
    EXPECT_EQ(VFW_E_NEED_OWNER, pPin->QueryPinInfo(&info));
    EXPECT_EQ(nullptr, info.pFilter);
    EXPECT_EQ(0u, pPin->Release());
}

// One thread asks the pin for its filter over and over while another
// gives back the filter's last reference. Every answer is the whole filter
// or the owner-gone code; ASan and TSan watch the memory.
TEST(PinOwner, ALastReleaseRacingQueryPinInfoNeverBringsTheFilterBack) {
    RegistrySandbox registry;
    for (int round = 0; round < 50; ++round) {
        IBaseFilter* pFilter = NewFilter();
        ASSERT_NE(nullptr, pFilter);
        IPin* pPin = OutputPin(pFilter);
        ASSERT_NE(nullptr, pPin);
        std::atomic<bool> bGo{false};
        std::atomic<int> nOwned{0}, nOdd{0};
        std::thread asker([&] {
            while (!bGo) {
            }
            for (;;) {
                PIN_INFO info = {};
                const HRESULT hr = pPin->QueryPinInfo(&info);
                if (hr == VFW_E_NEED_OWNER && !info.pFilter)
                    break;
                if (hr != S_OK || !info.pFilter) {
                    ++nOdd;
                    break;
                }
                CLSID clsid = GUID_NULL;
                info.pFilter->GetClassID(&clsid);
                if (!IsEqualCLSID(clsid, CLSID_CoFileSource))
                    ++nOdd;
                info.pFilter->Release();
                ++nOwned;
            }
        });
        bGo = true;
        pFilter->Release();
        asker.join();
        EXPECT_EQ(0, nOdd.load());
        EXPECT_EQ(0u, pPin->Release());
    }
}

}  // namespace
