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

// Deletes every value of a key.
LONG DeleteValues(HKEY hRoot, const std::string& path) {
    CRegKeyHolder key;
    LONG r = RegOpenKeyExA(hRoot, path.c_str(), 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key);
    while (r == ERROR_SUCCESS) {
        CHAR szName[16384];
        DWORD cch = sizeof(szName);
        r = RegEnumValueA(key, 0, szName, &cch, NULL, NULL, NULL, NULL);
        if (r == ERROR_NO_MORE_ITEMS)
            return ERROR_SUCCESS;
        if (r == ERROR_SUCCESS)
            r = RegDeleteValueA(key, szName);
    }
    return r;
}

bool HoldsValues(const RegTree& tree) {
    if (!tree.values.empty())
        return true;
    for (const auto& sub : tree.subkeys)
        if (HoldsValues(sub.second))
            return true;
    return false;
}

// Deletes the key with its subtree; a key that is not there is no failure.
// The key *pKeep names (when given) stays with what is under it, as long as
// something under it holds a value, and so do the keys above it, emptied
// of their values.
LONG DeleteTree(HKEY hRoot, const std::string& path, const std::string* pKeep = NULL) {
    if (pKeep && SameText(path, *pKeep)) {
        RegTree kept;
        const LONG r = ReadTree(hRoot, path, &kept);
        if (r == ERROR_FILE_NOT_FOUND)
            return ERROR_SUCCESS;
        if (r != ERROR_SUCCESS || HoldsValues(kept))
            return r;
        pKeep = NULL;  // nothing is waiting there
    }
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
        const LONG r = DeleteTree(hRoot, path + "\\" + sub, pKeep);
        if (r != ERROR_SUCCESS)
            return r;
    }
    if (pKeep && !names.empty()) {
        // Subkeys left now are the kept one or its parents.
        LONG r = ERROR_SUCCESS;
        {
            CRegKeyHolder key;
            r = RegOpenKeyExA(hRoot, path.c_str(), 0, KEY_READ, &key);
            if (r == ERROR_SUCCESS)
                names = SubkeyNames(key, &r);
        }
        if (r != ERROR_SUCCESS)
            return r;
        if (!names.empty())
            return DeleteValues(hRoot, path);
    }
    const LONG r = RegDeleteKeyA(hRoot, path.c_str());
    return r == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : r;
}

// ---------------------------------------------------------------- scripts

// The texts that fill a script's placeholders. The module's path is kept
// wide: an install folder outside the ANSI code page must be registered as
// it is, not with the code page's substitutes.
struct ScriptArgs {
    std::string clsid;
    std::wstring module;
};

const char s_szClsid[] = "%CLSID%";
const char s_szModule[] = "%MODULE%";

HRESULT MakeArgs(REFCLSID clsid, HMODULE hModule, ScriptArgs* pArgs) {
    WCHAR wszClsid[40];
    if (StringFromGUID2(clsid, wszClsid, 40) != 39)
        return E_UNEXPECTED;
    for (int i = 0; i < 38; ++i)
        pArgs->clsid += (char)wszClsid[i];
    // The longest path the system takes (32,767 characters) and its end.
    std::vector<WCHAR> module(32768);
    const DWORD cch = GetModuleFileNameW(hModule, module.data(), (DWORD)module.size());
    if (cch == 0)
        return LastErrorResult(GetLastError());
    if (cch >= module.size())
        return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    pArgs->module.assign(module.data(), cch);
    return S_OK;
}

// A path or data text of the script with %CLSID% filled in (paths and owner
// values never name the module).
std::string Expand(LPCSTR psz, const ScriptArgs& args) {
    std::string text;
    while (*psz) {
        if (strncmp(psz, s_szClsid, sizeof(s_szClsid) - 1) == 0) {
            text += args.clsid;
            psz += sizeof(s_szClsid) - 1;
        } else {
            text += *psz++;
        }
    }
    return text;
}

// A value's data with both placeholders filled in, as wide text (the
// script's own texts are ASCII).
std::wstring ExpandWide(LPCSTR psz, const ScriptArgs& args) {
    std::wstring text;
    while (*psz) {
        if (strncmp(psz, s_szModule, sizeof(s_szModule) - 1) == 0) {
            text += args.module;
            psz += sizeof(s_szModule) - 1;
        } else if (strncmp(psz, s_szClsid, sizeof(s_szClsid) - 1) == 0) {
            text.append(args.clsid.begin(), args.clsid.end());
            psz += sizeof(s_szClsid) - 1;
        } else {
            text += (WCHAR)(unsigned char)*psz++;
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

// The text of the tree's owner value ("" without one).
std::string OwnerText(const RegTree& tree, LPCSTR pszOwnerValue) {
    for (const RegTree::Value& v : tree.values) {
        if (!SameText(v.name, pszOwnerValue) || v.type != REG_SZ)
            continue;
        std::string text = v.data;
        while (!text.empty() && text.back() == '\0')
            text.pop_back();
        return text;
    }
    return std::string();
}

// True when the tree's owner value holds this text (GUID texts compare
// without case).
bool IsOwnedBy(const RegTree& tree, LPCSTR pszOwnerValue, const std::string& owner) {
    return SameText(OwnerText(tree, pszOwnerValue), owner);
}

LONG WriteRow(HKEY hRoot, const RegScriptKey& row, const ScriptArgs& args, const std::string& keep) {
    const std::string path = Expand(row.pszPath, args);
    LONG r = row.eRule == REGKEY_REPLACE ? DeleteTree(hRoot, path, &keep) : ERROR_SUCCESS;
    CRegKeyHolder key;
    if (r == ERROR_SUCCESS)
        r = RegCreateKeyExA(hRoot, path.c_str(), 0, NULL, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, NULL, &key,
                            NULL);
    for (const RegScriptValue& v : row.values) {
        if (r != ERROR_SUCCESS || !v.pszData)
            continue;
        const std::wstring data = ExpandWide(v.pszData, args);
        const std::wstring name = v.pszName ? ExpandWide(v.pszName, args) : std::wstring();
        r = RegSetValueExW(key, v.pszName ? name.c_str() : NULL, 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(data.c_str()),
                           (DWORD)((data.size() + 1) * sizeof(WCHAR)));
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

// The copy kept under the class's key for a row.
std::string KeptPath(const RegScriptKey& row, const ScriptArgs& args) {
    return Expand(s_szReplacedKeys, args) + "\\" + Expand(row.pszPath, args);
}

// A copy is whole once its mark is set: a value of the "Replaced Keys" key
// named by the entry's path, written after the copy and removed before it,
// so that a copy cut short by an ended process is never taken for one.
LONG SetCopyMark(HKEY hRoot, const RegScriptKey& row, const ScriptArgs& args, bool bSet) {
    const std::string name = Expand(row.pszPath, args);
    CRegKeyHolder key;
    LONG r = bSet ? RegCreateKeyExA(hRoot, Expand(s_szReplacedKeys, args).c_str(), 0, NULL,
                                    REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, NULL, &key, NULL)
                  : RegOpenKeyExA(hRoot, Expand(s_szReplacedKeys, args).c_str(), 0, KEY_SET_VALUE, &key);
    if (r == ERROR_SUCCESS)
        r = bSet ? RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>("1"), 2)
                 : RegDeleteValueA(key, name.c_str());
    return !bSet && r == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : r;
}

// The whole copy of a row's entry: ERROR_SUCCESS with the tree, or
// ERROR_FILE_NOT_FOUND when there is none (or only a part of one).
LONG ReadCopy(HKEY hRoot, const RegScriptKey& row, const ScriptArgs& args, RegTree* pCopy) {
    CHAR szMark[4];
    DWORD cb = sizeof(szMark), dwType = 0;
    CRegKeyHolder key;
    LONG r = RegOpenKeyExA(hRoot, Expand(s_szReplacedKeys, args).c_str(), 0, KEY_QUERY_VALUE, &key);
    if (r == ERROR_SUCCESS)
        r = RegQueryValueExA(key, Expand(row.pszPath, args).c_str(), NULL, &dwType,
                             reinterpret_cast<BYTE*>(szMark), &cb);
    if (r == ERROR_MORE_DATA)
        r = ERROR_SUCCESS;
    return r == ERROR_SUCCESS ? ReadTree(hRoot, KeptPath(row, args), pCopy) : r;
}

// Keeps a copy of a row's entry when it is someone else's, before anything
// is replaced. A whole copy from an earlier registration stays: it holds
// the entry from before our first registration, whoever has written the
// entry since.
LONG CopyForeignEntry(HKEY hRoot, const RegScriptKey& row, const ScriptArgs& args) {
    RegTree current;
    LONG r = ReadTree(hRoot, Expand(row.pszPath, args), &current);
    if (r == ERROR_FILE_NOT_FOUND)
        return ERROR_SUCCESS;
    if (r != ERROR_SUCCESS || IsOwnedBy(current, row.pszOwnerValue, OwnerData(row, args)))
        return r;
    RegTree earlier;
    r = ReadCopy(hRoot, row, args, &earlier);
    if (r != ERROR_FILE_NOT_FOUND)
        return r;
    const std::string kept = KeptPath(row, args);
    r = DeleteTree(hRoot, kept);
    if (r == ERROR_SUCCESS)
        r = WriteTree(hRoot, kept, current);
    if (r == ERROR_SUCCESS)
        r = SetCopyMark(hRoot, row, args, true);
    return r;
}

// Removes a row's entry while it is ours (or gone) and puts the whole copy
// back in its place; the copy goes only once it is back. An entry someone
// else has written since stays, and so does the copy, until it can go back.
LONG RestoreForeignEntry(HKEY hRoot, const RegScriptKey& row, const ScriptArgs& args) {
    const std::string path = Expand(row.pszPath, args);
    RegTree copy;
    LONG r = ReadCopy(hRoot, row, args, &copy);
    if (r != ERROR_SUCCESS && r != ERROR_FILE_NOT_FOUND)
        return r;
    const bool bCopy = r == ERROR_SUCCESS;
    RegTree current;
    r = ReadTree(hRoot, path, &current);
    if (r == ERROR_SUCCESS && !IsOwnedBy(current, row.pszOwnerValue, OwnerData(row, args)))
        return bCopy ? ERROR_SUCCESS : DeleteTree(hRoot, KeptPath(row, args));
    if (r == ERROR_SUCCESS)
        r = DeleteTree(hRoot, path);
    else if (r == ERROR_FILE_NOT_FOUND)
        r = ERROR_SUCCESS;
    if (r == ERROR_SUCCESS && bCopy)
        r = WriteTree(hRoot, path, copy);
    // A part of a copy (a registration ended while copying) goes too.
    if (r == ERROR_SUCCESS)
        r = SetCopyMark(hRoot, row, args, false);
    if (r == ERROR_SUCCESS)
        r = DeleteTree(hRoot, KeptPath(row, args));
    return r;
}

// Removes one row's key or values. A replaced key keeps the copies that
// still wait under it (see RestoreForeignEntry).
LONG RemoveRow(HKEY hRoot, const RegScriptKey& row, const ScriptArgs& args) {
    const std::string path = Expand(row.pszPath, args);
    const std::string keep = Expand(s_szReplacedKeys, args);
    LONG r = ERROR_SUCCESS;
    switch (row.eRule) {
        case REGKEY_KEEP:
            r = RemoveValues(hRoot, path, row);
            break;
        case REGKEY_REPLACE:
            r = row.pszOwnerValue ? RestoreForeignEntry(hRoot, row, args) : DeleteTree(hRoot, path, &keep);
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

}  // namespace

const RegScript g_scriptCoFileSource = {s_arrFilterKeys,
                                        sizeof(s_arrFilterKeys) / sizeof(s_arrFilterKeys[0])};
const RegScript g_scriptFileSourcePage = {s_arrPageKeys, sizeof(s_arrPageKeys) / sizeof(s_arrPageKeys[0])};

HRESULT RegisterScript(HKEY hRoot, const RegScript& script, REFCLSID clsid, HMODULE hModule) {
    ScriptArgs args;
    HRESULT hr = MakeArgs(clsid, hModule, &args);
    if (FAILED(hr))
        return hr;

    // What the script replaces and is someone else's is copied before
    // anything is deleted: a registration ended at any point (a regsvr32
    // killed) leaves either the entry or its copy.
    for (UINT i = 0; i < script.cKeys; ++i) {
        const RegScriptKey& row = script.pKeys[i];
        if (!row.pszOwnerValue)
            continue;
        const LONG r = CopyForeignEntry(hRoot, row, args);
        if (r != ERROR_SUCCESS) {
            DSTrace(TRACE_GENERAL, 1, "###Err### RegisterScript(): copy of \"%s\" FAILED lRes = %d\n",
                    row.pszPath, (int)r);
            return HRESULT_FROM_WIN32(r);
        }
    }
    // Replacing the class key keeps the copies under it.
    const std::string keep = Expand(s_szReplacedKeys, args);
    LONG r = ERROR_SUCCESS;
    for (UINT i = 0; i < script.cKeys && r == ERROR_SUCCESS; ++i)
        r = WriteRow(hRoot, script.pKeys[i], args, keep);
    return HRESULT_FROM_WIN32(r);
}

HRESULT UnregisterScript(HKEY hRoot, const RegScript& script, REFCLSID clsid, HMODULE hModule) {
    ScriptArgs args;
    HRESULT hr = MakeArgs(clsid, hModule, &args);
    if (FAILED(hr))
        return hr;

    // Children before parents: an entry's copy goes back before the class
    // key that holds it is removed.
    for (UINT i = script.cKeys; i-- > 0;) {
        const LONG r = RemoveRow(hRoot, script.pKeys[i], args);
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
