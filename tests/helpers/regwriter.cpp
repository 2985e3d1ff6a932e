// Changes the registry from a process of its own, for the test of two
// processes changing it at once. Under <key> (below HKEY_CURRENT_USER) it
// creates the subkeys <tag>_<i> and, in turn, sets the values <tag>_<i> of
// <key>\Shared, which every writer changes.
// Usage: regwriter <key> <tag> <count>; exits 0 when every change succeeded.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include <string>

int main(int argc, char** argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: regwriter <key> <tag> <count>\n");
        return 2;
    }
    const std::string key = argv[1], tag = argv[2];
    const int count = atoi(argv[3]);
    for (int i = 0; i < count; ++i) {
        const std::string name = tag + "_" + std::to_string(i);
        HKEY hKey;
        LONG r = RegCreateKeyExA(HKEY_CURRENT_USER, (key + "\\" + name).c_str(), 0, NULL, 0, KEY_ALL_ACCESS,
                                 NULL, &hKey, NULL);
        if (r == ERROR_SUCCESS)
            RegCloseKey(hKey);
        if (r == ERROR_SUCCESS)
            r = RegCreateKeyExA(HKEY_CURRENT_USER, (key + "\\Shared").c_str(), 0, NULL, 0, KEY_ALL_ACCESS,
                                NULL, &hKey, NULL);
        if (r == ERROR_SUCCESS) {
            const DWORD dw = (DWORD)i;
            r = RegSetValueExA(hKey, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dw),
                               sizeof(dw));
            RegCloseKey(hKey);
        }
        if (r != ERROR_SUCCESS) {
            fprintf(stderr, "regwriter: %s failed with %ld\n", name.c_str(), (long)r);
            return 1;
        }
    }
    return 0;
}
