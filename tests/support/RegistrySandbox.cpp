#include "RegistrySandbox.h"

#include <algorithm>
#include <atomic>
#include <random>

#include "TestProcess.h"

namespace testsupport {

RegistrySandbox::RegistrySandbox() {
    m_configHome = m_dir.Path() + "config";
    m_savedConfigHome = GetEnvVar("XDG_CONFIG_HOME");
    SetEnvVar("XDG_CONFIG_HOME", m_configHome);
    static std::atomic<unsigned> s_counter{0};
    std::random_device rd;
    m_key = "Software\\TallowFileSourceTests\\" + std::to_string(rd()) + "-" + std::to_string(s_counter++);
}

RegistrySandbox::~RegistrySandbox() {
    DeleteKeyTree(HKEY_CURRENT_USER, m_key);
    SetEnvVar("XDG_CONFIG_HOME", m_savedConfigHome);
}

LONG DeleteKeyTree(HKEY hRoot, const std::string& path) {
    for (const std::string& name : SubkeyNames(hRoot, path)) {
        const LONG r = DeleteKeyTree(hRoot, path + "\\" + name);
        if (r != ERROR_SUCCESS)
            return r;
    }
    return RegDeleteKeyA(hRoot, path.c_str());
}

std::vector<std::string> SubkeyNames(HKEY hRoot, const std::string& path) {
    std::vector<std::string> names;
    HKEY hKey;
    if (RegOpenKeyExA(hRoot, path.c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return names;
    for (DWORD i = 0;; ++i) {
        char name[256];
        DWORD cch = sizeof(name);
        if (RegEnumKeyExA(hKey, i, name, &cch, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
            break;
        names.emplace_back(name, cch);
    }
    RegCloseKey(hKey);
    return names;
}

std::vector<std::string> ValueNames(HKEY hRoot, const std::string& path) {
    std::vector<std::string> names;
    HKEY hKey;
    if (RegOpenKeyExA(hRoot, path.c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return names;
    for (DWORD i = 0;; ++i) {
        char name[16384];
        DWORD cch = sizeof(name);
        if (RegEnumValueA(hKey, i, name, &cch, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
            break;
        names.emplace_back(name, cch);
    }
    RegCloseKey(hKey);
    return names;
}

bool ReadValue(HKEY hRoot, const std::string& path, const char* name, DWORD* pType, std::string* pData) {
    HKEY hKey;
    if (RegOpenKeyExA(hRoot, path.c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return false;
    DWORD cb = 0;
    LONG r = RegQueryValueExA(hKey, name, NULL, pType, NULL, &cb);
    if (r == ERROR_SUCCESS) {
        pData->assign(cb, '\0');
        r = RegQueryValueExA(hKey, name, NULL, pType, cb ? reinterpret_cast<BYTE*>(&(*pData)[0]) : NULL, &cb);
        pData->resize(cb);
    }
    RegCloseKey(hKey);
    return r == ERROR_SUCCESS;
}

std::string ReadText(HKEY hRoot, const std::string& path, const char* name) {
    DWORD type;
    std::string data;
    if (!ReadValue(hRoot, path, name, &type, &data) || type != REG_SZ)
        return "<missing>";
    while (!data.empty() && data.back() == '\0')
        data.pop_back();
    return data;
}

static void AppendTree(HKEY hRoot, const std::string& path, const std::string& indent, std::string* text) {
    std::vector<std::string> values = ValueNames(hRoot, path);
    std::sort(values.begin(), values.end());
    for (const std::string& name : values) {
        DWORD type = 0;
        std::string data;
        ReadValue(hRoot, path, name.c_str(), &type, &data);
        if (type == REG_SZ || type == REG_EXPAND_SZ)
            while (!data.empty() && data.back() == '\0')
                data.pop_back();
        *text += indent + (name.empty() ? "@" : name) + "=" + std::to_string(type) + ":" + data + "\n";
    }
    std::vector<std::string> subkeys = SubkeyNames(hRoot, path);
    std::sort(subkeys.begin(), subkeys.end());
    for (const std::string& name : subkeys) {
        *text += indent + "[" + name + "]\n";
        AppendTree(hRoot, path + "\\" + name, indent + "  ", text);
    }
}

std::string KeyTreeText(HKEY hRoot, const std::string& path) {
    HKEY hKey;
    if (RegOpenKeyExA(hRoot, path.c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return "";
    RegCloseKey(hKey);
    std::string text = "[.]\n";
    AppendTree(hRoot, path, "  ", &text);
    return text;
}

}  // namespace testsupport
