// What registration writes for the component's classes, and the code that
// writes and removes it.
//
// Each class has a registry script: a table of keys under one root
// (HKEY_CLASSES_ROOT for the component), in order, parents first, each with
// its values and a rule for its removal:
//  - kept (REGKEY_KEEP): created when missing, never deleted;
//  - replaced (REGKEY_REPLACE): deleted with its whole subtree before it is
//    written, and deleted with its subtree on unregistration;
//  - the others (REGKEY_NORMAL): deleted on unregistration, unless something
//    else has put subkeys under them.
// Values are REG_SZ; key paths and data may hold %CLSID% (the class's CLSID
// in braces) and %MODULE% (the full path of the component's file).
//
// A replaced key that usually belongs to someone else before we register
// (the "Media Type" entry through which the platform's file typing finds a
// source filter, which the platform registers for its own reader) names its
// owner value: the value whose data is ours when the entry is ours. If the
// entry is someone else's when we register, registration keeps a copy of it
// under the class's own key (CLSID\{clsid}\Replaced Keys\<the key's path>)
// before it deletes or writes anything, and marks the copy whole once it is
// written (a value of "Replaced Keys" named by the path); replacing the
// class key keeps "Replaced Keys". So a registration ended at any point (a
// regsvr32 killed) leaves the entry or its whole copy. A whole copy from an
// earlier registration stays: it holds the entry from before our first one.
// Unregistration removes the entry while it is ours (or gone) and then puts
// the copy back; while someone else has taken the entry since, the copy
// stays (and with it the class key) until a later unregistration can put it
// back. Values that hold %MODULE% are written with the wide calls, so the
// path is registered exactly as the system names it.
#pragma once

#include <windows.h>

#include "IOrvexFileSource.h"

enum ERegKeyRule { REGKEY_NORMAL, REGKEY_KEEP, REGKEY_REPLACE };

struct RegScriptValue {
    LPCSTR pszName;  // null: the key's default value
    LPCSTR pszData;
};

struct RegScriptKey {
    LPCSTR pszPath;
    ERegKeyRule eRule;
    RegScriptValue values[2];  // unused entries have null data
    LPCSTR pszOwnerValue;      // for a replaced key that may be someone else's first
};

struct RegScript {
    const RegScriptKey* pKeys;
    UINT cKeys;
};

// The filter's script: the ProgID keys, the class key and the "Media Type"
// check-bytes entry for MPEG-2 program streams.
extern const RegScript g_scriptCoFileSource;
// The property page's script: its ProgID keys and its class key
// (apartment-threaded).
extern const RegScript g_scriptFileSourcePage;

// Writes or removes one script under hRoot for the class, with the module's
// full path for %MODULE%. Both stop at the first failure and return it
// (a Win32 error as an HRESULT); what was written before stays.
HRESULT RegisterScript(HKEY hRoot, const RegScript& script, REFCLSID clsid, HMODULE hModule);
HRESULT UnregisterScript(HKEY hRoot, const RegScript& script, REFCLSID clsid, HMODULE hModule);

// Enters the filter in the platform's filter mapper, or removes it, through
// IFilterMapper2: in the legacy filter category, under the name the class key
// holds (registration writes the script first), merit MERIT_DO_NOT_USE, one
// output pin "Output" of major type Stream. Removing an entry that is not
// there succeeds. Fails with the mapper's creation error when there is no
// filter mapper (REGDB_E_CLASSNOTREG on Linux).
HRESULT RegisterFilterWithMapper(REFCLSID clsid, BOOL bRegister);

// What DllRegisterServer and DllUnregisterServer do, class by class in the
// order of the object map, under HKEY_CLASSES_ROOT: the filter's script and
// its filter-mapper step, then the page's script. Registration stops at the
// first failure and returns it. Unregistration removes all it can and
// returns the first failure, so that a missing filter mapper (Linux) does
// not leave the page's keys behind.
HRESULT UpdateFileSourceRegistry(HMODULE hModule, BOOL bRegister);
