// The library's property page: IPropertyPage over a dialog of the page's
// own (CDialogImpl<T>, DShowX/DSDialog.h).
//
//   class CThingPage : public CComObjectRootBase,
//                      public IPropertyPageImpl<CThingPage>,
//                      public CDialogImpl<CThingPage> {
//   public:
//       enum { IDD = IDD_THINGPAGE };
//       CThingPage() { m_dwTitleID = IDS_TITLETHINGPAGE; }
//       BEGIN_INTERFACE_TABLE(CThingPage)
//           INTERFACE_ENTRY(IPropertyPage)
//       END_INTERFACE_TABLE()
//       BEGIN_MSG_MAP(CThingPage) ... END_MSG_MAP()
//   };
//
// Activate creates the dialog as a child of the frame's window (its
// WM_INITDIALOG finds the objects SetObjects kept), Deactivate destroys it.
// SetObjects tells the page through OnObjectsChanged.
// The page's title, document string and help file are string resources of
// the module; the size comes from the dialog template. A page that never
// sets m_bDirty is never dirty, and Apply does nothing.
//
// A property page is an apartment object: the frame calls it on its
// user-interface thread only, and nothing here takes a lock.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include "DShowX/DSComBase.h"
#include "DShowX/DSDialog.h"
#include "DShowX/DSTrace.h"

// The objects a property page shows, as the frame passed them (one counted
// reference each).
class CPropertyPageObjects {
public:
    CPropertyPageObjects() : m_ppUnk(NULL), m_nObjects(0) {}
    ~CPropertyPageObjects() { Clear(); }
    CPropertyPageObjects(const CPropertyPageObjects&) = delete;
    CPropertyPageObjects& operator=(const CPropertyPageObjects&) = delete;

    // Keeps a copy of the list; the previous objects are let go.
    HRESULT Set(ULONG nObjects, IUnknown** ppUnk);
    void Clear();
    ULONG Count() const { return m_nObjects; }
    IUnknown* Object(ULONG i) const { return i < m_nObjects ? m_ppUnk[i] : NULL; }
    // Asks the objects in order for the interface; the first that has it
    // answers. E_NOINTERFACE when none has it.
    HRESULT QueryFirst(REFIID riid, void** ppv) const;

private:
    IUnknown** m_ppUnk;
    ULONG m_nObjects;
};

// A string resource of the module as a task-memory wide string (null for
// the identifier 0); E_OUTOFMEMORY, or the string's absence as
// HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND).
HRESULT DSLoadTaskMemString(HINSTANCE hInstance, UINT nID, LPOLESTR* ppsz);

template <class T>
class IPropertyPageImpl : public IPropertyPage {
public:
    IPropertyPageImpl()
        : m_bDirty(FALSE), m_dwTitleID(0), m_dwHelpFileID(0), m_dwDocStringID(0), m_dwHelpContext(0) {}

    STDMETHOD(SetPageSite)(IPropertyPageSite* pPageSite) override {
        DSTrace(TRACE_CONTROLS, 2, "IPropertyPageImpl::SetPageSite\n");
        m_spPageSite = pPageSite;
        return S_OK;
    }

    STDMETHOD(Activate)(HWND hWndParent, LPCRECT pRect, BOOL /*bModal*/) override {
        DSTrace(TRACE_CONTROLS, 2, "IPropertyPageImpl::Activate\n");
        if (!pRect) {
            DSTrace(TRACE_CONTROLS, 1, "Error : IPropertyPageImpl::Activate - pRect == NULL\n");
            return E_POINTER;
        }
        T* pT = static_cast<T*>(this);
        if (pT->m_hWnd) {
            DSTrace(TRACE_CONTROLS, 1, "Error : IPropertyPageImpl::Activate - the page is active already\n");
            return E_UNEXPECTED;
        }
        if (!pT->Create(hWndParent)) {
            DSTrace(TRACE_CONTROLS, 1, "Error : IPropertyPageImpl::Activate - Create() FAILED\n");
            return E_FAIL;
        }
        pT->MoveWindow(*pRect);
        return S_OK;
    }

    STDMETHOD(Deactivate)() override {
        DSTrace(TRACE_CONTROLS, 2, "IPropertyPageImpl::Deactivate\n");
        T* pT = static_cast<T*>(this);
        if (pT->m_hWnd)
            pT->DestroyWindow();
        return S_OK;
    }

    STDMETHOD(GetPageInfo)(PROPPAGEINFO* pPageInfo) override {
        DSTrace(TRACE_CONTROLS, 2, "IPropertyPageImpl::GetPageInfo\n");
        if (!pPageInfo) {
            DSTrace(TRACE_CONTROLS, 1, "Error : IPropertyPageImpl::GetPageInfo - pPageInfo == NULL\n");
            return E_POINTER;
        }
        const HINSTANCE hInstance = GetCurrentModule();
        PROPPAGEINFO info = {};
        info.cb = sizeof(PROPPAGEINFO);
        info.dwHelpContext = m_dwHelpContext;
        CDialogWindow::GetTemplateSize(hInstance, T::IDD, &info.size);
        HRESULT hr = DSLoadTaskMemString(hInstance, m_dwTitleID, &info.pszTitle);
        if (SUCCEEDED(hr))
            hr = DSLoadTaskMemString(hInstance, m_dwDocStringID, &info.pszDocString);
        if (SUCCEEDED(hr))
            hr = DSLoadTaskMemString(hInstance, m_dwHelpFileID, &info.pszHelpFile);
        if (FAILED(hr)) {
            DSTrace(TRACE_CONTROLS, 1, "Error : IPropertyPageImpl::GetPageInfo - string FAILED hr = 0x%08X\n",
                    hr);
            CoTaskMemFree(info.pszTitle);
            CoTaskMemFree(info.pszDocString);
            CoTaskMemFree(info.pszHelpFile);
            return hr;
        }
        *pPageInfo = info;
        return S_OK;
    }

    STDMETHOD(SetObjects)(ULONG nObjects, IUnknown** ppUnk) override {
        DSTrace(TRACE_CONTROLS, 2, "IPropertyPageImpl::SetObjects( nObjects = %u )\n", (UINT)nObjects);
        const HRESULT hr = m_objects.Set(nObjects, ppUnk);
        if (FAILED(hr)) {
            DSTrace(TRACE_CONTROLS, 1, "Error : IPropertyPageImpl::SetObjects FAILED hr = 0x%08X\n", hr);
            return hr;
        }
        static_cast<T*>(this)->OnObjectsChanged();
        return hr;
    }

    // Called after SetObjects has kept a new list (empty after
    // SetObjects(0, NULL)): a page that holds something of the old objects
    // lets go of it and follows the new ones.
    void OnObjectsChanged() {}

    STDMETHOD(Show)(UINT nCmdShow) override {
        DSTrace(TRACE_CONTROLS, 2, "IPropertyPageImpl::Show\n");
        T* pT = static_cast<T*>(this);
        if (!pT->m_hWnd)
            return E_UNEXPECTED;
        pT->ShowWindow((int)nCmdShow);
        return S_OK;
    }

    STDMETHOD(Move)(LPCRECT pRect) override {
        DSTrace(TRACE_CONTROLS, 2, "IPropertyPageImpl::Move\n");
        if (!pRect)
            return E_POINTER;
        T* pT = static_cast<T*>(this);
        if (!pT->m_hWnd)
            return E_UNEXPECTED;
        pT->MoveWindow(*pRect);
        return S_OK;
    }

    STDMETHOD(IsPageDirty)() override {
        DSTrace(TRACE_CONTROLS, 2, "IPropertyPageImpl::IsPageDirty\n");
        return m_bDirty ? S_OK : S_FALSE;
    }

    STDMETHOD(Apply)() override {
        DSTrace(TRACE_CONTROLS, 2, "IPropertyPageImpl::Apply\n");
        return S_OK;
    }

    // No help of its own: the frame uses the help file of GetPageInfo.
    STDMETHOD(Help)(LPCOLESTR /*pszHelpDir*/) override {
        DSTrace(TRACE_CONTROLS, 2, "IPropertyPageImpl::Help\n");
        return E_NOTIMPL;
    }

    // The dialog's keyboard navigation (tab, arrows, its buttons' keys).
    STDMETHOD(TranslateAccelerator)(MSG* pMsg) override {
        DSTrace(TRACE_CONTROLS, 2, "IPropertyPageImpl::TranslateAccelerator\n");
        if (!pMsg)
            return E_POINTER;
        return static_cast<T*>(this)->TranslateDialogMessage(pMsg) ? S_OK : S_FALSE;
    }

protected:
    CComPtr<IPropertyPageSite> m_spPageSite;
    CPropertyPageObjects m_objects;
    BOOL m_bDirty;
    UINT m_dwTitleID;
    UINT m_dwHelpFileID;
    UINT m_dwDocStringID;
    DWORD m_dwHelpContext;
};
