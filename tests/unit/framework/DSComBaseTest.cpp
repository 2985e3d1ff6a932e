#include <windows.h>
#include <dshow.h>

#include <gtest/gtest.h>

#include "DShowX/DSComBase.h"
#include "DebugCapture.h"

namespace {

// A class with two interfaces and observable construction hooks.
class CTestObject : public IPersist, public IMediaEventSink, public CComObjectRootMT {
public:
    BEGIN_INTERFACE_TABLE(CTestObject)
    INTERFACE_ENTRY(IPersist)
    INTERFACE_ENTRY(IMediaEventSink)
    END_INTERFACE_TABLE()

    static HRESULT s_hrConstruct;
    static int s_nFinalReleases;
    static LONG s_nRefInFinalConstruct;

    HRESULT FinalConstruct() {
        s_nRefInFinalConstruct = m_dwRef;
        // A temporary reference taken and given back during construction must
        // not destroy the object.
        static_cast<IPersist*>(this)->AddRef();
        static_cast<IPersist*>(this)->Release();
        return s_hrConstruct;
    }
    void FinalRelease() {
        ++s_nFinalReleases;
        // References taken while releasing must not run the release again.
        static_cast<IPersist*>(this)->AddRef();
        static_cast<IPersist*>(this)->Release();
    }

    STDMETHOD(GetClassID)(CLSID* pClassID) override {
        *pClassID = GUID_NULL;
        return S_OK;
    }
    STDMETHOD(Notify)(LONG, LONG_PTR, LONG_PTR) override { return S_OK; }
};
HRESULT CTestObject::s_hrConstruct = S_OK;
int CTestObject::s_nFinalReleases = 0;
LONG CTestObject::s_nRefInFinalConstruct = 0;

// Records the module's lock count when its destructor runs.
struct CLockWitness {
    LONG* pnSeen;
    ~CLockWitness() { *pnSeen = CComModuleLock::GetLockCount(); }
};

class CWitnessObject : public IPersist, public CComObjectRootMT {
public:
    BEGIN_INTERFACE_TABLE(CWitnessObject)
    INTERFACE_ENTRY(IPersist)
    END_INTERFACE_TABLE()

    ~CWitnessObject() { s_nInDestructor = CComModuleLock::GetLockCount(); }
    STDMETHOD(GetClassID)(CLSID* pClassID) override {
        *pClassID = GUID_NULL;
        return S_OK;
    }

    static LONG s_nInDestructor, s_nInMember;
    CLockWitness m_witness{&s_nInMember};
};
LONG CWitnessObject::s_nInDestructor = 0;
LONG CWitnessObject::s_nInMember = 0;

class ComBase : public ::testing::Test {
protected:
    void SetUp() override {
        CTestObject::s_hrConstruct = S_OK;
        CTestObject::s_nFinalReleases = 0;
        m_nLocks = CComModuleLock::GetLockCount();
    }
    void TearDown() override { EXPECT_EQ(m_nLocks, CComModuleLock::GetLockCount()); }
    LONG m_nLocks;
};

TEST_F(ComBase, CreationRunsFinalConstructUnderATemporaryReferenceAndHoldsTheModule) {
    IPersist* pPersist = NULL;
    ASSERT_EQ(S_OK, CComCreator<CTestObject>::CreateInstance(NULL, IID_IPersist,
                                                             reinterpret_cast<void**>(&pPersist)));
    EXPECT_EQ(1, CTestObject::s_nRefInFinalConstruct);
    EXPECT_EQ(m_nLocks + 1, CComModuleLock::GetLockCount());
    EXPECT_EQ(0, CTestObject::s_nFinalReleases);
    EXPECT_EQ(2u, pPersist->AddRef());
    EXPECT_EQ(1u, pPersist->Release());
    EXPECT_EQ(0u, pPersist->Release());
    EXPECT_EQ(1, CTestObject::s_nFinalReleases);
}

// The component may not be unloaded while an object's destructors still run
// its code (a pin's cache waits for its thread there).
TEST_F(ComBase, ModuleLockOutlivesTheObjectsDestructors) {
    CComObject<CWitnessObject>* p = NULL;
    ASSERT_EQ(S_OK, CComObject<CWitnessObject>::CreateObject(&p));
    EXPECT_EQ(m_nLocks + 1, CComModuleLock::GetLockCount());
    EXPECT_EQ(0u, p->Release());
    EXPECT_EQ(m_nLocks + 1, CWitnessObject::s_nInDestructor);
    EXPECT_EQ(m_nLocks + 1, CWitnessObject::s_nInMember);
}

TEST_F(ComBase, QueryInterfaceWalksTheTableAndAnswersIUnknownWithTheFirstEntry) {
    CComObject<CTestObject>* p = NULL;
    ASSERT_EQ(S_OK, CComObject<CTestObject>::CreateObject(&p));
    IUnknown* pUnk = NULL;
    IPersist* pPersist = NULL;
    IMediaEventSink* pSink = NULL;
    IUnknown* pUnkFromSink = NULL;
    ASSERT_EQ(S_OK, p->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&pUnk)));
    ASSERT_EQ(S_OK, p->QueryInterface(IID_IPersist, reinterpret_cast<void**>(&pPersist)));
    ASSERT_EQ(S_OK, p->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&pSink)));
    ASSERT_EQ(S_OK, pSink->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&pUnkFromSink)));
    // One identity, whichever interface is asked.
    EXPECT_EQ(static_cast<IUnknown*>(pPersist), pUnk);
    EXPECT_EQ(pUnk, pUnkFromSink);
    EXPECT_NE(static_cast<void*>(pPersist), static_cast<void*>(pSink));

    void* pv = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE, p->QueryInterface(IID_IPin, &pv));
    EXPECT_EQ(nullptr, pv);
    EXPECT_EQ(E_POINTER, p->QueryInterface(IID_IPersist, NULL));

    pUnk->Release();
    pPersist->Release();
    pSink->Release();
    pUnkFromSink->Release();
    EXPECT_EQ(0u, p->Release());
}

TEST_F(ComBase, FailedFinalConstructDestroysTheObjectAndGivesBackTheModule) {
    CTestObject::s_hrConstruct = E_OUTOFMEMORY;
    void* pv = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_OUTOFMEMORY, CComCreator<CTestObject>::CreateInstance(NULL, IID_IPersist, &pv));
    EXPECT_EQ(nullptr, pv);
    // The release hook runs on every destruction, so it alone cleans up.
    EXPECT_EQ(1, CTestObject::s_nFinalReleases);
}

TEST_F(ComBase, CreatorRefusesAggregationAndUnknownInterfaces) {
    IUnknown* pOuter = reinterpret_cast<IUnknown*>(0x1000);
    void* pv = reinterpret_cast<void*>(1);
    EXPECT_EQ(CLASS_E_NOAGGREGATION, CComCreator<CTestObject>::CreateInstance(pOuter, IID_IUnknown, &pv));
    EXPECT_EQ(nullptr, pv);
    EXPECT_EQ(0, CTestObject::s_nFinalReleases);
    // An object that lacks the interface is destroyed again.
    EXPECT_EQ(E_NOINTERFACE, CComCreator<CTestObject>::CreateInstance(NULL, IID_IPin, &pv));
    EXPECT_EQ(1, CTestObject::s_nFinalReleases);
}

TEST_F(ComBase, ClassFactoryCreatesLocksAndRefusesAggregatedInterfaces) {
    CComObject<CComClassFactory<CComCreator<CTestObject>>>* pFactory = NULL;
    ASSERT_EQ(S_OK, (CComObject<CComClassFactory<CComCreator<CTestObject>>>::CreateObject(&pFactory)));
    EXPECT_EQ(m_nLocks + 1, CComModuleLock::GetLockCount());

    IPersist* pPersist = NULL;
    EXPECT_EQ(S_OK, pFactory->CreateInstance(NULL, IID_IPersist, reinterpret_cast<void**>(&pPersist)));
    ASSERT_NE(nullptr, pPersist);
    pPersist->Release();

    testsupport::ClearDebugText();
    void* pv = NULL;
    IUnknown* pOuter = reinterpret_cast<IUnknown*>(0x1000);
    EXPECT_EQ(CLASS_E_NOAGGREGATION, pFactory->CreateInstance(pOuter, IID_IPersist, &pv));
    EXPECT_NE(std::string::npos,
              testsupport::DebugText().find(
                  "CComClassFactory: asked for non IUnknown interface while creating an aggregated object"));
    EXPECT_EQ(CLASS_E_NOAGGREGATION, pFactory->CreateInstance(pOuter, IID_IUnknown, &pv));
    EXPECT_EQ(E_POINTER, pFactory->CreateInstance(NULL, IID_IPersist, NULL));

    EXPECT_EQ(S_OK, pFactory->LockServer(TRUE));
    EXPECT_EQ(m_nLocks + 2, CComModuleLock::GetLockCount());
    EXPECT_EQ(S_OK, pFactory->LockServer(FALSE));
    pFactory->Release();
}

TEST_F(ComBase, CachedClassObjectHoldsTheModuleOnlyForOutsideReferences) {
    CComObjectCached<CComClassFactory<CComCreator<CTestObject>>>* pCached = NULL;
    ASSERT_EQ(S_OK, (CComObjectCached<CComClassFactory<CComCreator<CTestObject>>>::CreateObject(&pCached)));
    EXPECT_EQ(m_nLocks, CComModuleLock::GetLockCount());
    IClassFactory* pFactory = NULL;
    ASSERT_EQ(S_OK, pCached->QueryInterface(IID_IClassFactory, reinterpret_cast<void**>(&pFactory)));
    EXPECT_EQ(m_nLocks + 1, CComModuleLock::GetLockCount());
    pFactory->Release();
    EXPECT_EQ(m_nLocks, CComModuleLock::GetLockCount());
    EXPECT_EQ(0u, pCached->Release());
}

TEST_F(ComBase, CountedPointerBalancesReferences) {
    CComObject<CTestObject>* p = NULL;
    ASSERT_EQ(S_OK, CComObject<CTestObject>::CreateObject(&p));
    {
        CComPtr<IPersist> sp1(p);
        CComPtr<IPersist> sp2 = sp1;
        sp2 = sp1;  // the same object again
        CComPtr<IPersist> sp3;
        sp3 = sp2;
        IPersist* pCopy = NULL;
        EXPECT_EQ(S_OK, sp3.CopyTo(&pCopy));
        pCopy->Release();
        sp3.Release();
        EXPECT_TRUE(!sp3);
        IPersist* pDetached = sp2.Detach();
        sp3.Attach(pDetached);
    }
    EXPECT_EQ(0u, p->Release());
    EXPECT_EQ(1, CTestObject::s_nFinalReleases);
}

}  // namespace
