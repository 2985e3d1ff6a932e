#include "CoFileSourceRegister.h"

#include <dshow.h>
#include <string.h>

#include <string>
#include <utility>
#include <vector>

#include "DShowX/DSComBase.h"
#include "DShowX/DSTrace.h"
#include "WinAPI/Wrappers.h"

namespace {

// The two GUIDs of the key are MEDIATYPE_Stream and MEDIASUBTYPE_MPEG2_PROGRAM.
// The check bytes: at offset 0, 5 bytes ANDed with FF FF FF FF C0 equal
// 00 00 01 BA 40, an MPEG-2 pack header (an MPEG-1 one has 0010 where the
// mask keeps the top two bits).
const RegScriptKey s_arrFilterKeys[] = {
    {"OrvexFileSource.CoFileSource.1", REGKEY_NORMAL, {{NULL, "TallowFileSource"}}, NULL},
    {"OrvexFileSource.CoFileSource.1\\CLSID", REGKEY_NORMAL, {{NULL, "%CLSID%"}}, NULL},
    {"OrvexFileSource.CoFileSource", REGKEY_NORMAL, {{NULL, "DS File Source"}}, NULL},
    {"OrvexFileSource.CoFileSource\\CLSID", REGKEY_NORMAL, {{NULL, "%CLSID%"}}, NULL},
    {"OrvexFileSource.CoFileSource\\CurVer", REGKEY_NORMAL, {{NULL, "OrvexFileSource.CoFileSource.1"}}, NULL},
    {"CLSID", REGKEY_KEEP, {}, NULL},
    {"CLSID\\%CLSID%", REGKEY_REPLACE, {{NULL, "TallowFileSource"}}, NULL},
    {"CLSID\\%CLSID%\\ProgID", REGKEY_NORMAL, {{NULL, "OrvexFileSource.CoFileSource.1"}}, NULL},
    {"CLSID\\%CLSID%\\VersionIndependentProgID",
     REGKEY_NORMAL,
     {{NULL, "OrvexFileSource.CoFileSource"}},
     NULL},
    {"CLSID\\%CLSID%\\InprocServer32", REGKEY_NORMAL, {{NULL, "%MODULE%"}, {"ThreadingModel", "Both"}}, NULL},
    {"Media Type", REGKEY_KEEP, {}, NULL},
    {"Media Type\\Extensions", REGKEY_KEEP, {}, NULL},
    {"Media Type\\{e436eb83-524f-11ce-9f53-0020af0ba770}", REGKEY_KEEP, {}, NULL},
    {"Media Type\\{e436eb83-524f-11ce-9f53-0020af0ba770}\\{e06d8022-db46-11cf-b4d1-00805f6cbbea}",
     REGKEY_REPLACE,
     {{"0", "0, 5, FFFFFFFFC0 ,000001BA40"}, {"Source Filter", "%CLSID%"}},
     "Source Filter"},
};

const RegScriptKey s_arrPageKeys[] = {
    {"OrvexFileSource.FileSourcePage.1", REGKEY_NORMAL, {{NULL, "FileSourcePage Class"}}, NULL},
    {"OrvexFileSource.FileSourcePage.1\\CLSID", REGKEY_NORMAL, {{NULL, "%CLSID%"}}, NULL},
    {"OrvexFileSource.FileSourcePage", REGKEY_NORMAL, {{NULL, "FileSourcePage Class"}}, NULL},
    {"OrvexFileSource.FileSourcePage\\CLSID", REGKEY_NORMAL, {{NULL, "%CLSID%"}}, NULL},
    {"OrvexFileSource.FileSourcePage\\CurVer",
     REGKEY_NORMAL,
     {{NULL, "OrvexFileSource.FileSourcePage.1"}},
     NULL},
    {"CLSID", REGKEY_KEEP, {}, NULL},
    {"CLSID\\%CLSID%", REGKEY_REPLACE, {{NULL, "FileSourcePage Class"}}, NULL},
    {"CLSID\\%CLSID%\\ProgID", REGKEY_NORMAL, {{NULL, "OrvexFileSource.FileSourcePage.1"}}, NULL},
    {"CLSID\\%CLSID%\\VersionIndependentProgID",
     REGKEY_NORMAL,
     {{NULL, "OrvexFileSource.FileSourcePage"}},
     NULL},
    {"CLSID\\%CLSID%\\InprocServer32",
     REGKEY_NORMAL,
     {{NULL, "%MODULE%"}, {"ThreadingModel", "Apartment"}},
     NULL},
};

// Where registration keeps the entries it replaced that were someone else's.
const char s_szReplacedKeys[] = "CLSID\\%CLSID%\\Replaced Keys";

// ---------------------------------------------------------------- registry helpers

// Owns one open registry key.
class CRegKeyHolder {
public:
    CRegKeyHolder() : m_hKey(NULL) {}
    ~CRegKeyHolder() {
        if (m_hKey)
            RegCloseKey(m_hKey);
    }
    CRegKeyHolder(const CRegKeyHolder&) = delete;
    CRegKeyHolder& operator=(const CRegKeyHolder&) = delete;
    HKEY* operator&() { return &m_hKey; }
    operator HKEY() const { return m_hKey; }

private:
    HKEY m_hKey;
};

// A key's values and subkeys, read whole so they can be written back.
struct RegTree {
    struct Value {
        std::string name;
        DWORD type;
        std::string data;
    };
    std::vector<Value> values;
    std::vector<std::pair<std::string, RegTree>> subkeys;
};

bool SameText(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char ca = a[i], cb = b[i];
        if (ca >= 'a' && ca <= 'z')
            ca = (char)(ca - 'a' + 'A');
        if (cb >= 'a' && cb <= 'z')
            cb = (char)(cb - 'a' + 'A');
        if (ca != cb)
            return false;
    }
    return true;
}

std::vector<std::string> SubkeyNames(HKEY hKey, LONG* pResult) {
    std::vector<std::string> names;
    *pResult = ERROR_SUCCESS;
    for (DWORD i = 0;; ++i) {
        CHAR szName[256];
        DWORD cch = sizeof(szName);
        const LONG r = RegEnumKeyExA(hKey, i, szName, &cch, NULL, NULL, NULL, NULL);
        if (r == ERROR_NO_MORE_ITEMS)
            return names;
        if (r != ERROR_SUCCESS) {
            *pResult = r;
            return names;
        }
        names.emplace_back(szName, cch);
    }
}

// Reads the key and everything under it; ERROR_FILE_NOT_FOUND when it is not
// there.
LONG ReadTree(HKEY hRoot, const std::string& path, RegTree* pTree) {
    CRegKeyHolder key;
    LONG r = RegOpenKeyExA(hRoot, path.c_str(), 0, KEY_READ, &key);
    if (r != ERROR_SUCCESS)
        return r;
    std::vector<CHAR> name(16384);
    std::string data(256, '\0');
    for (DWORD i = 0;; ++i) {
        DWORD cch = (DWORD)name.size(), cb = (DWORD)data.size(), type = 0;
        r = RegEnumValueA(key, i, name.data(), &cch, NULL, &type, reinterpret_cast<BYTE*>(&data[0]), &cb);
        if (r == ERROR_MORE_DATA && cb > data.size()) {
            data.resize(cb);
            --i;  // again, with room for the data
            continue;
        }
        if (r == ERROR_NO_MORE_ITEMS)
            break;
        if (r != ERROR_SUCCESS)
            return r;
        pTree->values.push_back({std::string(name.data(), cch), type, data.substr(0, cb)});
    }
    const std::vector<std::string> names = SubkeyNames(key, &r);
    if (r != ERROR_SUCCESS)
        return r;
    for (const std::string& sub : names) {
        pTree->subkeys.emplace_back(sub, RegTree());
        r = ReadTree(hRoot, path + "\\" + sub, &pTree->subkeys.back().second);
        if (r != ERROR_SUCCESS)
            return r;
    }
    return ERROR_SUCCESS;
}

LONG WriteTree(HKEY hRoot, const std::string& path, const RegTree& tree) {
    CRegKeyHolder key;
    LONG r = RegCreateKeyExA(hRoot, path.c_str(), 0, NULL, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, NULL,
                             &key, NULL);
    for (size_t i = 0; r == ERROR_SUCCESS && i < tree.values.size(); ++i) {
        const RegTree::Value& v = tree.values[i];
        r = RegSetValueExA(key, v.name.c_str(), 0, v.type, reinterpret_cast<const BYTE*>(v.data.data()),
                           (DWORD)v.data.size());
    }
    for (size_t i = 0; r == ERROR_SUCCESS && i < tree.subkeys.size(); ++i)
        r = WriteTree(hRoot, path + "\\" + tree.subkeys[i].first, tree.subkeys[i].second);
    return r;
}

// Deletes the key with its subtree; a key that is not there is no failure.
LONG DeleteTree(HKEY hRoot, const std::string& path) {
    std::vector<std::string> names;
    {
        CRegKeyHolder key;
        LONG r = RegOpenKeyExA(hRoot, path.c_str(), 0, KEY_READ, &key);
        if (r == ERROR_FILE_NOT_FOUND)
            return ERROR_SUCCESS;
        if (r == ERROR_SUCCESS)
            names = SubkeyNames(key, &r);
        if (r != ERROR_SUCCESS)
            return r;
    }
    for (const std::string& sub : names) {
        const LONG r = DeleteTree(hRoot, path + "\\" + sub);
        if (r != ERROR_SUCCESS)
            return r;
    }
    const LONG r = RegDeleteKeyA(hRoot, path.c_str());
    return r == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : r;
}

// ---------------------------------------------------------------- scripts

// The texts that fill a script's placeholders.
struct ScriptArgs {
    std::string clsid;
    std::string module;
};

HRESULT MakeArgs(REFCLSID clsid, HMODULE hModule, ScriptArgs* pArgs) {
    WCHAR wszClsid[40];
    if (StringFromGUID2(clsid, wszClsid, 40) != 39)
        return E_UNEXPECTED;
    for (int i = 0; i < 38; ++i)
        pArgs->clsid += (char)wszClsid[i];
    CHAR szModule[1024];
    const DWORD cch = GetModuleFileNameA(hModule, szModule, sizeof(szModule));
    if (cch == 0)
        return LastErrorResult(GetLastError());
    if (cch >= sizeof(szModule))
        return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    pArgs->module.assign(szModule, cch);
    return S_OK;
}

std::string Expand(LPCSTR psz, const ScriptArgs& args) {
    static const char szClsid[] = "%CLSID%", szModule[] = "%MODULE%";
    std::string text;
    while (*psz) {
        if (strncmp(psz, szClsid, sizeof(szClsid) - 1) == 0) {
            text += args.clsid;
            psz += sizeof(szClsid) - 1;
        } else if (strncmp(psz, szModule, sizeof(szModule) - 1) == 0) {
            text += args.module;
            psz += sizeof(szModule) - 1;
        } else {
            text += *psz++;
        }
    }
    return text;
}

// The data the row writes to its owner value.
std::string OwnerData(const RegScriptKey& row, const ScriptArgs& args) {
    for (const RegScriptValue& v : row.values)
        if (v.pszName && v.pszData && SameText(v.pszName, row.pszOwnerValue))
            return Expand(v.pszData, args);
    return std::string();
}

// True when the tree's owner value holds this text (GUID texts compare
// without case).
bool IsOwnedBy(const RegTree& tree, LPCSTR pszOwnerValue, const std::string& owner) {
    for (const RegTree::Value& v : tree.values) {
        if (!SameText(v.name, pszOwnerValue) || v.type != REG_SZ)
            continue;
        std::string text = v.data;
        while (!text.empty() && text.back() == '\0')
            text.pop_back();
        return SameText(text, owner);
    }
    return false;
}

LONG WriteRow(HKEY hRoot, const RegScriptKey& row, const ScriptArgs& args) {
    const std::string path = Expand(row.pszPath, args);
    LONG r = row.eRule == REGKEY_REPLACE ? DeleteTree(hRoot, path) : ERROR_SUCCESS;
    CRegKeyHolder key;
    if (r == ERROR_SUCCESS)
        r = RegCreateKeyExA(hRoot, path.c_str(), 0, NULL, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, NULL, &key,
                            NULL);
    for (const RegScriptValue& v : row.values) {
        if (r != ERROR_SUCCESS || !v.pszData)
            continue;
        const std::string data = Expand(v.pszData, args);
        r = RegSetValueExA(key, v.pszName, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                           (DWORD)data.size() + 1);
    }
    if (r != ERROR_SUCCESS)
        DSTrace(TRACE_GENERAL, 1, "###Err### RegisterScript(): key \"%s\" FAILED lRes = %d\n", path.c_str(),
                (int)r);
    return r;
}

LONG RemoveValues(HKEY hRoot, const std::string& path, const RegScriptKey& row) {
    CRegKeyHolder key;
    LONG r = RegOpenKeyExA(hRoot, path.c_str(), 0, KEY_SET_VALUE, &key);
    for (const RegScriptValue& v : row.values) {
        if (r != ERROR_SUCCESS || !v.pszData)
            continue;
        r = RegDeleteValueA(key, v.pszName);
        if (r == ERROR_FILE_NOT_FOUND)
            r = ERROR_SUCCESS;
    }
    return r == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : r;
}

// Removes one row's key or values; a copy kept for it goes back in place.
LONG RemoveRow(HKEY hRoot, const RegScriptKey& row, const ScriptArgs& args, const RegTree* pKept) {
    const std::string path = Expand(row.pszPath, args);
    LONG r = ERROR_SUCCESS;
    switch (row.eRule) {
        case REGKEY_KEEP:
            r = RemoveValues(hRoot, path, row);
            break;
        case REGKEY_REPLACE:
            if (row.pszOwnerValue) {
                // Only our own entry goes; one that someone else has written
                // since stays, and our copy of the older one is dropped.
                RegTree current;
                r = ReadTree(hRoot, path, &current);
                if (r == ERROR_SUCCESS && IsOwnedBy(current, row.pszOwnerValue, OwnerData(row, args)))
                    r = DeleteTree(hRoot, path);
                else if (r == ERROR_SUCCESS)
                    pKept = NULL;
                else if (r == ERROR_FILE_NOT_FOUND)
                    r = ERROR_SUCCESS;
                if (r == ERROR_SUCCESS && pKept)
                    r = WriteTree(hRoot, path, *pKept);
            } else {
                r = DeleteTree(hRoot, path);
            }
            break;
        case REGKEY_NORMAL: {
            // Deleted unless something else has put subkeys under it.
            CRegKeyHolder key;
            r = RegOpenKeyExA(hRoot, path.c_str(), 0, KEY_READ, &key);
            if (r == ERROR_FILE_NOT_FOUND)
                return ERROR_SUCCESS;
            std::vector<std::string> names;
            if (r == ERROR_SUCCESS)
                names = SubkeyNames(key, &r);
            if (r == ERROR_SUCCESS && names.empty())
                r = RegDeleteKeyA(hRoot, path.c_str());
            else if (r == ERROR_SUCCESS)
                r = RemoveValues(hRoot, path, row);
            break;
        }
    }
    if (r != ERROR_SUCCESS)
        DSTrace(TRACE_GENERAL, 1, "###Err### UnregisterScript(): key \"%s\" FAILED lRes = %d\n", path.c_str(),
                (int)r);
    return r;
}

// The copy kept under the class's key for a row.
std::string KeptPath(const RegScriptKey& row, const ScriptArgs& args) {
    return Expand(s_szReplacedKeys, args) + "\\" + Expand(row.pszPath, args);
}

}  // namespace

const RegScript g_scriptCoFileSource = {s_arrFilterKeys,
                                        sizeof(s_arrFilterKeys) / sizeof(s_arrFilterKeys[0])};
const RegScript g_scriptFileSourcePage = {s_arrPageKeys, sizeof(s_arrPageKeys) / sizeof(s_arrPageKeys[0])};

HRESULT RegisterScript(HKEY hRoot, const RegScript& script, REFCLSID clsid, HMODULE hModule) {
    ScriptArgs args;
    HRESULT hr = MakeArgs(clsid, hModule, &args);
    if (FAILED(hr))
        return hr;

    // What the script replaces and is someone else's is copied first; a copy
    // from an earlier registration is kept as it is.
    std::vector<std::pair<std::string, RegTree>> kept;
    for (UINT i = 0; i < script.cKeys; ++i) {
        const RegScriptKey& row = script.pKeys[i];
        if (!row.pszOwnerValue)
            continue;
        RegTree current;
        LONG r = ReadTree(hRoot, Expand(row.pszPath, args), &current);
        if (r == ERROR_SUCCESS && !IsOwnedBy(current, row.pszOwnerValue, OwnerData(row, args))) {
            kept.emplace_back(KeptPath(row, args), std::move(current));
            continue;
        }
        if (r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND) {
            RegTree earlier;
            r = ReadTree(hRoot, KeptPath(row, args), &earlier);
            if (r == ERROR_SUCCESS)
                kept.emplace_back(KeptPath(row, args), std::move(earlier));
        }
        if (r != ERROR_SUCCESS && r != ERROR_FILE_NOT_FOUND)
            return HRESULT_FROM_WIN32(r);
    }

    LONG r = ERROR_SUCCESS;
    for (UINT i = 0; i < script.cKeys && r == ERROR_SUCCESS; ++i)
        r = WriteRow(hRoot, script.pKeys[i], args);
    // The copies are written last (the class key has just been replaced), and
    // also after a failure: what was replaced must not be lost.
    for (const auto& copy : kept) {
        LONG rCopy = DeleteTree(hRoot, copy.first);
        if (rCopy == ERROR_SUCCESS)
            rCopy = WriteTree(hRoot, copy.first, copy.second);
        if (r == ERROR_SUCCESS)
            r = rCopy;
    }
    return HRESULT_FROM_WIN32(r);
}

HRESULT UnregisterScript(HKEY hRoot, const RegScript& script, REFCLSID clsid, HMODULE hModule) {
    ScriptArgs args;
    HRESULT hr = MakeArgs(clsid, hModule, &args);
    if (FAILED(hr))
        return hr;

    // Children before parents. A row's kept copy is read before its key is
    // handled, and always before the class key that holds it goes.
    for (UINT i = script.cKeys; i-- > 0;) {
        const RegScriptKey& row = script.pKeys[i];
        RegTree copy;
        LONG r = row.pszOwnerValue ? ReadTree(hRoot, KeptPath(row, args), &copy) : ERROR_FILE_NOT_FOUND;
        if (r != ERROR_SUCCESS && r != ERROR_FILE_NOT_FOUND)
            return HRESULT_FROM_WIN32(r);
        const bool bCopy = r == ERROR_SUCCESS;
        r = RemoveRow(hRoot, row, args, bCopy ? &copy : NULL);
        if (r == ERROR_SUCCESS && bCopy)
            r = DeleteTree(hRoot, KeptPath(row, args));
        if (r != ERROR_SUCCESS)
            return HRESULT_FROM_WIN32(r);
    }
    return S_OK;
}

HRESULT RegisterFilterWithMapper(REFCLSID clsid, BOOL bRegister) {
    // The caller (regsvr32) has normally initialised COM; this makes sure.
    const HRESULT hrInit = CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
    HRESULT hr;
    {
        CComPtr<IFilterMapper2> spMapper;
        hr = CoCreateInstance(CLSID_FilterMapper2, NULL, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                              reinterpret_cast<void**>(&spMapper));
        if (SUCCEEDED(hr) && !spMapper)
            hr = E_NOINTERFACE;
        if (SUCCEEDED(hr)) {
            hr = spMapper->UnregisterFilter(&CLSID_LegacyAmFilterCategory, NULL, clsid);
            if (hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND))
                hr = S_OK;  // it was not registered
        }
        if (SUCCEEDED(hr) && bRegister) {
            // The name is the one the script has just written.
            WCHAR wszClsid[40];
            StringFromGUID2(clsid, wszClsid, 40);
            std::string key = "CLSID\\";
            for (int i = 0; i < 38; ++i)
                key += (char)wszClsid[i];
            CRegKeyHolder hKey;
            CHAR szName[MAX_PATH];
            DWORD cb = sizeof(szName) - 1, type = 0;
            LONG r = RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &hKey);
            if (r == ERROR_SUCCESS)
                r = RegQueryValueExA(hKey, NULL, NULL, &type, reinterpret_cast<BYTE*>(szName), &cb);
            if (r == ERROR_SUCCESS && type != REG_SZ)
                r = ERROR_INVALID_DATA;
            szName[r == ERROR_SUCCESS ? cb : 0] = 0;
            WCHAR wszName[MAX_PATH];
            if (r == ERROR_SUCCESS && !MultiByteToWideChar(CP_ACP, 0, szName, -1, wszName, MAX_PATH))
                r = GetLastError();
            if (r != ERROR_SUCCESS) {
                hr = LastErrorResult((DWORD)r);
            } else {
                WCHAR wszPin[] = L"Output";
                const REGPINTYPES pinType = {&MEDIATYPE_Stream, &GUID_NULL};
                const REGFILTERPINS pin = {wszPin, FALSE, TRUE, FALSE, FALSE, NULL, NULL, 1, &pinType};
                ASSERT(!(pin.bRendered && pin.bOutput));
                REGFILTER2 rf2;
                rf2.dwVersion = 1;
                rf2.dwMerit = MERIT_DO_NOT_USE;
                rf2.cPins = 1;
                rf2.rgPins = &pin;
                hr =
                    spMapper->RegisterFilter(clsid, wszName, NULL, &CLSID_LegacyAmFilterCategory, NULL, &rf2);
            }
        }
    }
    if (SUCCEEDED(hrInit))
        CoUninitialize();
    if (FAILED(hr))
        DSTrace(TRACE_GENERAL, 1, "###Err### RegisterFilterWithMapper(%d) FAILED hr = 0x%08X\n", bRegister,
                hr);
    return hr;
}

HRESULT UpdateFileSourceRegistry(HMODULE hModule, BOOL bRegister) {
    DSTrace(TRACE_GENERAL, 8, "UpdateFileSourceRegistry(%d)\n", bRegister);
    if (bRegister) {
        HRESULT hr = RegisterScript(HKEY_CLASSES_ROOT, g_scriptCoFileSource, CLSID_CoFileSource, hModule);
        if (SUCCEEDED(hr))
            hr = RegisterFilterWithMapper(CLSID_CoFileSource, TRUE);
        if (SUCCEEDED(hr))
            hr = RegisterScript(HKEY_CLASSES_ROOT, g_scriptFileSourcePage, CLSID_FileSourcePage, hModule);
        return hr;
    }
    const HRESULT hrFilter =
        UnregisterScript(HKEY_CLASSES_ROOT, g_scriptCoFileSource, CLSID_CoFileSource, hModule);
    const HRESULT hrMapper = RegisterFilterWithMapper(CLSID_CoFileSource, FALSE);
    const HRESULT hrPage =
        UnregisterScript(HKEY_CLASSES_ROOT, g_scriptFileSourcePage, CLSID_FileSourcePage, hModule);
    return FAILED(hrFilter) ? hrFilter : FAILED(hrMapper) ? hrMapper : hrPage;
}
