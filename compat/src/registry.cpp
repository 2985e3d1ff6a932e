// The registry: HKEY_CLASSES_ROOT and HKEY_CURRENT_USER in one file-backed
// store shared by the user's processes (see winreg.h for the rules).
//
// The store is a text file read whole for every call:
//
//   tallowfilesource registry 1
//   next <the next key id>
//   key <id> <path from the root's name, escaped>
//   value =<name, escaped> <type> <data in hex>
//   ...
//   end <number of key lines>
//
// Keys follow their parents, depth first; values follow their key. Bytes up
// to the blank, '%' and DEL are escaped as %XX. Any other form, a missing
// "end" line included, makes the store corrupt.
//
// Every key carries an id that is never reused; a handle remembers the path
// and the id of its key, so it can tell that its key was deleted (and perhaps
// created again) by this process or another.
#include "kobject.h"

#include <compat/compat.h>

#include <errno.h>
#include <fcntl.h>
#include <pwd.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <wchar.h>

#include <atomic>
#include <iterator>
#include <map>
#include <memory>
#include <new>

using namespace compat;

namespace {

enum Root { kClassesRoot, kCurrentUser, kRootCount };
const char* const kRootNames[kRootCount] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER"};
// A root's id is its index plus one; new keys count on from kFirstKeyId.
const uint64_t kFirstKeyId = kRootCount + 1;

const char kHeader[] = "tallowfilesource registry 1";

// Names compare as Windows compares them: case folded to upper case.
struct NameLess {
    bool operator()(const std::string& a, const std::string& b) const {
        const size_t n = a.size() < b.size() ? a.size() : b.size();
        for (size_t i = 0; i < n; ++i) {
            const int ca = Upper(a[i]), cb = Upper(b[i]);
            if (ca != cb)
                return ca < cb;
        }
        return a.size() < b.size();
    }
    static int Upper(char c) {
        const unsigned char u = (unsigned char)c;
        return u >= 'a' && u <= 'z' ? u - 'a' + 'A' : u;
    }
};

struct Value {
    std::string name;  // as created
    DWORD type = REG_NONE;
    std::string data;
};

struct Key {
    std::string name;  // as created
    uint64_t id = 0;
    std::map<std::string, Value, NameLess> values;
    std::map<std::string, std::unique_ptr<Key>, NameLess> subkeys;
};

struct Store {
    uint64_t nextId = kFirstKeyId;
    Key roots[kRootCount];
    Store() {
        for (int r = 0; r < kRootCount; ++r) {
            roots[r].name = kRootNames[r];
            roots[r].id = (uint64_t)r + 1;
        }
    }
};

// ---------------------------------------------------------------- text form

std::string Escape(const std::string& s) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : s) {
        if (c <= ' ' || c == '%' || c == 0x7F) {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += (char)c;
        }
    }
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

bool Unescape(const std::string& s, std::string* out) {
    out->clear();
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '%') {
            out->push_back(s[i]);
            continue;
        }
        if (i + 2 >= s.size() || HexDigit(s[i + 1]) < 0 || HexDigit(s[i + 2]) < 0)
            return false;
        out->push_back((char)(HexDigit(s[i + 1]) * 16 + HexDigit(s[i + 2])));
        i += 2;
    }
    return true;
}

std::string ToHex(const std::string& data) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(data.size() * 2);
    for (unsigned char c : data) {
        out += kHex[c >> 4];
        out += kHex[c & 15];
    }
    return out;
}

bool FromHex(const std::string& hex, std::string* out) {
    if (hex.size() % 2)
        return false;
    out->clear();
    for (size_t i = 0; i < hex.size(); i += 2) {
        const int hi = HexDigit(hex[i]), lo = HexDigit(hex[i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        out->push_back((char)(hi * 16 + lo));
    }
    return true;
}

bool ParseNumber(const std::string& s, uint64_t* v) {
    if (s.empty() || s.size() > 19)
        return false;
    uint64_t n = 0;
    for (char c : s) {
        if (c < '0' || c > '9')
            return false;
        n = n * 10 + (uint64_t)(c - '0');
    }
    *v = n;
    return true;
}

std::vector<std::string> Split(const std::string& line) {
    std::vector<std::string> tokens;
    size_t start = 0;
    for (;;) {
        const size_t blank = line.find(' ', start);
        tokens.push_back(line.substr(start, blank == std::string::npos ? std::string::npos : blank - start));
        if (blank == std::string::npos)
            return tokens;
        start = blank + 1;
    }
}

void WriteKey(const std::string& path, const Key& key, std::string* text, size_t* nKeys) {
    *text += "key " + std::to_string(key.id) + " " + Escape(path) + "\n";
    ++*nKeys;
    for (const auto& v : key.values)
        *text += "value =" + Escape(v.second.name) + " " + std::to_string(v.second.type) + " " +
                 ToHex(v.second.data) + "\n";
    for (const auto& k : key.subkeys)
        WriteKey(path + "\\" + k.second->name, *k.second, text, nKeys);
}

std::string Serialize(const Store& store) {
    std::string text = std::string(kHeader) + "\nnext " + std::to_string(store.nextId) + "\n";
    size_t nKeys = 0;
    for (const Key& root : store.roots)
        WriteKey(root.name, root, &text, &nKeys);
    text += "end " + std::to_string(nKeys) + "\n";
    return text;
}

// Fills an empty store from its text; false when the text is not a whole,
// well-formed store.
bool Parse(const std::string& text, Store* store) {
    if (text.empty() || text.back() != '\n')
        return false;
    std::vector<std::string> lines;
    for (size_t start = 0; start < text.size();) {
        const size_t nl = text.find('\n', start);
        lines.push_back(text.substr(start, nl - start));
        start = nl + 1;
    }
    if (lines.size() < 3 || lines[0] != kHeader)
        return false;
    std::vector<std::string> t = Split(lines[1]);
    if (t.size() != 2 || t[0] != "next" || !ParseNumber(t[1], &store->nextId) || store->nextId < kFirstKeyId)
        return false;

    std::map<uint64_t, bool> ids;
    Key* current = nullptr;
    uint64_t nKeys = 0;
    for (size_t i = 2; i + 1 < lines.size(); ++i) {
        t = Split(lines[i]);
        if (t.size() == 3 && t[0] == "key") {
            uint64_t id;
            std::string path;
            if (!ParseNumber(t[1], &id) || id == 0 || id >= store->nextId || ids.count(id) ||
                !Unescape(t[2], &path))
                return false;
            ids[id] = true;
            ++nKeys;
            // The root first; a key's parent is already there, the key not.
            std::vector<std::string> names;
            for (size_t start = 0;;) {
                const size_t bs = path.find('\\', start);
                names.push_back(path.substr(start, bs == std::string::npos ? std::string::npos : bs - start));
                if (bs == std::string::npos)
                    break;
                start = bs + 1;
            }
            int r = 0;
            while (r < kRootCount && names[0] != kRootNames[r])
                ++r;
            if (r == kRootCount)
                return false;
            Key* parent = &store->roots[r];
            if (names.size() == 1) {
                if (id != (uint64_t)r + 1)
                    return false;
                current = parent;
                continue;
            }
            for (size_t n = 1; n + 1 < names.size(); ++n) {
                auto it = parent->subkeys.find(names[n]);
                if (it == parent->subkeys.end())
                    return false;
                parent = it->second.get();
            }
            const std::string& name = names.back();
            if (name.empty() || parent->subkeys.count(name))
                return false;
            std::unique_ptr<Key> key(new Key);
            key->name = name;
            key->id = id;
            current = key.get();
            parent->subkeys[name] = std::move(key);
        } else if (t.size() == 4 && t[0] == "value" && current && !t[1].empty() && t[1][0] == '=') {
            Value v;
            uint64_t type;
            if (!Unescape(t[1].substr(1), &v.name) || !ParseNumber(t[2], &type) || type > 0xFFFFFFFFu ||
                !FromHex(t[3], &v.data) || current->values.count(v.name))
                return false;
            v.type = (DWORD)type;
            current->values[v.name] = std::move(v);
        } else {
            return false;
        }
    }
    t = Split(lines.back());
    uint64_t nEnd;
    return t.size() == 2 && t[0] == "end" && ParseNumber(t[1], &nEnd) && nEnd == nKeys && ids.count(1) &&
           ids.count(2);
}

// ---------------------------------------------------------------- the files

// The store's directory, or "" when there is no home to put it in.
std::string StoreDir() {
    const char* xdg = getenv("XDG_CONFIG_HOME");
    std::string base;
    if (xdg && xdg[0] == '/') {
        base = xdg;
    } else {
        const char* home = getenv("HOME");
        if (home && home[0] == '/') {
            base = std::string(home) + "/.config";
        } else {
            struct passwd pw, *found = nullptr;
            char buf[4096];
            if (getpwuid_r(getuid(), &pw, buf, sizeof(buf), &found) != 0 || !found || !found->pw_dir)
                return std::string();
            base = std::string(found->pw_dir) + "/.config";
        }
    }
    return base + "/tallowfilesource";
}

DWORD MakeDirs(const std::string& dir) {
    for (size_t pos = 1; pos <= dir.size(); ++pos) {
        if (pos < dir.size() && dir[pos] != '/')
            continue;
        const std::string part = dir.substr(0, pos);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return Win32ErrorFromErrno(errno);
    }
    return ERROR_SUCCESS;
}

enum LoadResult { kLoaded, kMissing, kCorrupt, kUnreadable };

// Reads the store into an empty Store; a missing, corrupt or unreadable
// store leaves it empty. *pErr receives the errno of an unreadable one.
LoadResult Load(const std::string& path, Store* store, int* pErr) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *pErr = errno;
        return errno == ENOENT ? kMissing : kUnreadable;
    }
    std::string text;
    char buf[65536];
    for (;;) {
        const ssize_t n = read(fd, buf, sizeof(buf));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            *pErr = errno;
            close(fd);
            return kUnreadable;
        }
        if (n == 0)
            break;
        text.append(buf, (size_t)n);
    }
    close(fd);
    if (Parse(text, store))
        return kLoaded;
    *store = Store();
    return kCorrupt;
}

DWORD WriteAll(int fd, const std::string& text) {
    for (size_t done = 0; done < text.size();) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return Win32ErrorFromErrno(n < 0 ? errno : ENOSPC);
        done += (size_t)n;
    }
    return ERROR_SUCCESS;
}

// Keeps a copy of a corrupt store under a name of its own
// ("registry.corrupt.<time>.<pid>[.<n>]"), never replacing an earlier copy.
DWORD SetAside(const std::string& path) {
    const std::string stem =
        path + ".corrupt." + std::to_string((long long)time(nullptr)) + "." + std::to_string((long)getpid());
    for (int n = 0;; ++n) {
        const std::string aside = n ? stem + "." + std::to_string(n) : stem;
        if (link(path.c_str(), aside.c_str()) == 0)
            return ERROR_SUCCESS;
        if (errno != EEXIST)
            return Win32ErrorFromErrno(errno);
    }
}

// Replaces the store by a new file; the old one stays whole until the new one
// is complete on disk. A corrupt store is first set aside, never lost.
DWORD Save(const std::string& dir, const Store& store, bool bSetAsideCorrupt) {
    const std::string path = dir + "/registry";
    const std::string tmp = path + ".tmp." + std::to_string((long)getpid());
    const int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return Win32ErrorFromErrno(errno);
    DWORD err = WriteAll(fd, Serialize(store));
    if (err == ERROR_SUCCESS && fsync(fd) != 0)
        err = Win32ErrorFromErrno(errno);
    if (close(fd) != 0 && err == ERROR_SUCCESS)
        err = Win32ErrorFromErrno(errno);
    if (err == ERROR_SUCCESS && bSetAsideCorrupt)
        err = SetAside(path);
    if (err == ERROR_SUCCESS && rename(tmp.c_str(), path.c_str()) != 0)
        err = Win32ErrorFromErrno(errno);
    if (err != ERROR_SUCCESS) {
        unlink(tmp.c_str());
        return err;
    }
    return ERROR_SUCCESS;
}

// Serialises the changes of this process's threads. Lock order: this mutex,
// then the store's lock file; no other compat lock is taken inside.
std::mutex& ChangeLock() {
    static std::mutex* s = new std::mutex;  // never destroyed: threads may outlive statics
    return *s;
}

// The lock file's exclusive lock, which serialises the changes of all
// processes; each change reads the store afresh under it.
class StoreLock {
public:
    explicit StoreLock(const std::string& dir) {
        m_fd = open((dir + "/registry.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (m_fd < 0) {
            m_err = Win32ErrorFromErrno(errno);
            return;
        }
        while (flock(m_fd, LOCK_EX) != 0) {
            if (errno != EINTR) {
                m_err = Win32ErrorFromErrno(errno);
                return;
            }
        }
    }
    ~StoreLock() {
        if (m_fd >= 0)
            close(m_fd);  // releases the lock
    }
    StoreLock(const StoreLock&) = delete;
    StoreLock& operator=(const StoreLock&) = delete;
    DWORD Error() const { return m_err; }

private:
    int m_fd = -1;
    DWORD m_err = ERROR_SUCCESS;
};

// Reads the store for a query: whatever state it is in, the caller gets a
// store (empty when there is none or it cannot be read).
void ReadStore(Store* store) {
    const std::string dir = StoreDir();
    if (dir.empty())
        return;
    int err;
    Load(dir + "/registry", store, &err);
}

// The controls of compat/compat.h: a process that may not write the
// registry, and one that stops changing it after a number of changes.
std::atomic<bool> g_bWritable{true};
std::atomic<long> g_nChangeBudget{-1};

// Runs one change on the store read afresh under the locks and writes the
// result back when fn reports a change. fn returns a Win32 error; on error
// nothing is written.
template <class F>
LONG ChangeStore(F fn) {
    std::lock_guard<std::mutex> g(ChangeLock());
    if (g_nChangeBudget.load() == 0)
        return ERROR_WRITE_FAULT;
    const std::string dir = StoreDir();
    if (dir.empty())
        return ERROR_PATH_NOT_FOUND;
    DWORD err = MakeDirs(dir);
    if (err != ERROR_SUCCESS)
        return (LONG)err;
    StoreLock lock(dir);
    if (lock.Error() != ERROR_SUCCESS)
        return (LONG)lock.Error();
    Store store;
    int loadErr = 0;
    const LoadResult loaded = Load(dir + "/registry", &store, &loadErr);
    if (loaded == kUnreadable)
        return (LONG)Win32ErrorFromErrno(loadErr);
    bool bChanged = false;
    const LONG r = fn(store, &bChanged);
    if (r != ERROR_SUCCESS || !bChanged)
        return r;
    const LONG saved = (LONG)Save(dir, store, loaded == kCorrupt);
    if (saved == ERROR_SUCCESS && g_nChangeBudget.load() > 0)
        --g_nChangeBudget;
    return saved;
}

// The write rights a low-integrity process is refused on the user's keys.
constexpr REGSAM kWriteRights =
    KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE | WRITE_DAC | WRITE_OWNER;

LONG CheckWritable(REGSAM access) {
    return !g_bWritable.load() && (access & kWriteRights) ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
}

// ---------------------------------------------------------------- keys and handles

// What a key handle names: a root, the path below it and the key's id.
struct KeyRef {
    Root root = kClassesRoot;
    std::vector<std::string> path;
    uint64_t id = 0;
    REGSAM access = 0;
};

class KRegKey : public KObject {
public:
    explicit KRegKey(const KeyRef& ref) : KObject(kKey), m_ref(ref) {}
    const KeyRef m_ref;
};

REGSAM MapAccess(REGSAM sam) {
    if (sam & (GENERIC_ALL | MAXIMUM_ALLOWED))
        sam |= KEY_ALL_ACCESS;
    if (sam & GENERIC_READ)
        sam |= KEY_READ;
    if (sam & GENERIC_WRITE)
        sam |= KEY_WRITE;
    if (sam & GENERIC_EXECUTE)
        sam |= KEY_EXECUTE;
    return sam & KEY_ALL_ACCESS;
}

LONG ResolveHandle(HKEY hKey, KeyRef* ref) {
    if (hKey == HKEY_CLASSES_ROOT || hKey == HKEY_CURRENT_USER) {
        ref->root = hKey == HKEY_CLASSES_ROOT ? kClassesRoot : kCurrentUser;
        ref->path.clear();
        ref->id = (uint64_t)ref->root + 1;
        ref->access = KEY_ALL_ACCESS;
        return ERROR_SUCCESS;
    }
    // The registry reports through its result; the thread's last error stays.
    const DWORD dwLastError = GetLastError();
    KRef obj = LookupHandle(reinterpret_cast<HANDLE>(hKey), KObject::kKey);
    SetLastError(dwLastError);
    if (!obj)
        return ERROR_INVALID_HANDLE;
    *ref = static_cast<KRegKey*>(obj.get())->m_ref;
    return ERROR_SUCCESS;
}

// A subkey path as its names: a leading backslash is refused as Windows
// refuses it; empty names (a trailing backslash) are skipped.
LONG SplitSubKey(LPCSTR pszSubKey, std::vector<std::string>* names) {
    names->clear();
    if (!pszSubKey || !*pszSubKey)
        return ERROR_SUCCESS;
    if (pszSubKey[0] == '\\')
        return ERROR_BAD_PATHNAME;
    std::string name;
    for (const char* p = pszSubKey;; ++p) {
        if (*p == '\\' || *p == 0) {
            if (!name.empty())
                names->push_back(name);
            name.clear();
            if (*p == 0)
                return ERROR_SUCCESS;
        } else {
            name.push_back(*p);
        }
    }
}

// The key a handle names and the subkey names below it.
LONG ResolvePath(HKEY hKey, LPCSTR pszSubKey, KeyRef* ref, std::vector<std::string>* names) {
    const LONG r = ResolveHandle(hKey, ref);
    return r == ERROR_SUCCESS ? SplitSubKey(pszSubKey, names) : r;
}

// The handle's key in this store, or null when it has been deleted.
Key* FindKey(Store& store, const KeyRef& ref) {
    Key* key = &store.roots[ref.root];
    for (const std::string& name : ref.path) {
        auto it = key->subkeys.find(name);
        if (it == key->subkeys.end())
            return nullptr;
        key = it->second.get();
    }
    return key->id == ref.id ? key : nullptr;
}

LONG NewHandle(const KeyRef& ref, PHKEY phkResult) {
    KRegKey* obj = new (std::nothrow) KRegKey(ref);
    if (!obj)
        return ERROR_NOT_ENOUGH_MEMORY;
    *phkResult = reinterpret_cast<HKEY>(InsertHandle(obj));
    return ERROR_SUCCESS;
}

LONG Access(const KeyRef& ref, REGSAM needed) {
    return (ref.access & needed) == needed ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

// The key a handle names, from the store read afresh, once the handle's
// access allows what the caller is about to do.
LONG ReadOpenKey(HKEY hKey, REGSAM access, Store* pStore, const Key** ppKey) {
    KeyRef ref;
    LONG r = ResolveHandle(hKey, &ref);
    if (r == ERROR_SUCCESS)
        r = Access(ref, access);
    if (r != ERROR_SUCCESS)
        return r;
    ReadStore(pStore);
    *ppKey = FindKey(*pStore, ref);
    return *ppKey ? ERROR_SUCCESS : ERROR_KEY_DELETED;
}

}  // namespace

extern "C" {

LONG WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult) {
    if (!phkResult)
        return ERROR_INVALID_PARAMETER;
    *phkResult = NULL;
    KeyRef ref;
    std::vector<std::string> names;
    LONG r = ResolvePath(hKey, lpSubKey, &ref, &names);
    if (r != ERROR_SUCCESS)
        return r;
    Store store;
    ReadStore(&store);
    Key* key = FindKey(store, ref);
    if (!key)
        return ERROR_KEY_DELETED;
    for (const std::string& name : names) {
        auto it = key->subkeys.find(name);
        if (it == key->subkeys.end())
            return ERROR_FILE_NOT_FOUND;
        key = it->second.get();
        ref.path.push_back(key->name);
    }
    ref.id = key->id;
    ref.access = MapAccess(samDesired);
    r = CheckWritable(ref.access);
    if (r != ERROR_SUCCESS)
        return r;
    return NewHandle(ref, phkResult);
}

LONG WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, LPSTR, DWORD dwOptions, REGSAM samDesired,
                            LPSECURITY_ATTRIBUTES, PHKEY phkResult, LPDWORD lpdwDisposition) {
    if (!phkResult)
        return ERROR_INVALID_PARAMETER;
    *phkResult = NULL;
    if (dwOptions & REG_OPTION_VOLATILE)
        return ERROR_NOT_SUPPORTED;
    KeyRef ref;
    std::vector<std::string> names;
    LONG r = ResolvePath(hKey, lpSubKey, &ref, &names);
    if (r == ERROR_SUCCESS)
        r = CheckWritable(KEY_CREATE_SUB_KEY | MapAccess(samDesired));
    if (r != ERROR_SUCCESS)
        return r;
    DWORD dwDisposition = REG_OPENED_EXISTING_KEY;
    r = ChangeStore([&](Store& store, bool* pbChanged) -> LONG {
        Key* key = FindKey(store, ref);
        if (!key)
            return ERROR_KEY_DELETED;
        for (const std::string& name : names) {
            auto it = key->subkeys.find(name);
            if (it == key->subkeys.end()) {
                std::unique_ptr<Key> created(new Key);
                created->name = name;
                created->id = store.nextId++;
                it = key->subkeys.emplace(name, std::move(created)).first;
                dwDisposition = REG_CREATED_NEW_KEY;
                *pbChanged = true;
            } else {
                dwDisposition = REG_OPENED_EXISTING_KEY;
            }
            key = it->second.get();
            ref.path.push_back(key->name);
        }
        ref.id = key->id;
        return ERROR_SUCCESS;
    });
    if (r != ERROR_SUCCESS)
        return r;
    ref.access = MapAccess(samDesired);
    r = NewHandle(ref, phkResult);
    if (r == ERROR_SUCCESS && lpdwDisposition)
        *lpdwDisposition = dwDisposition;
    return r;
}

LONG WINAPI RegCloseKey(HKEY hKey) {
    if (hKey == HKEY_CLASSES_ROOT || hKey == HKEY_CURRENT_USER)
        return ERROR_SUCCESS;
    KeyRef ref;
    const LONG r = ResolveHandle(hKey, &ref);
    if (r != ERROR_SUCCESS)
        return r;
    const DWORD dwLastError = GetLastError();
    const BOOL bClosed = CloseHandle(reinterpret_cast<HANDLE>(hKey));
    SetLastError(dwLastError);
    return bClosed ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LONG WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD, LPDWORD lpType, LPBYTE lpData,
                             LPDWORD lpcbData) {
    if (lpData && !lpcbData)
        return ERROR_INVALID_PARAMETER;
    Store store;
    const Key* key = nullptr;
    const LONG r = ReadOpenKey(hKey, KEY_QUERY_VALUE, &store, &key);
    if (r != ERROR_SUCCESS)
        return r;
    auto it = key->values.find(lpValueName ? lpValueName : "");
    if (it == key->values.end())
        return ERROR_FILE_NOT_FOUND;
    const Value& v = it->second;
    if (lpType)
        *lpType = v.type;
    if (lpcbData) {
        const DWORD cb = (DWORD)v.data.size();
        if (lpData && *lpcbData < cb) {
            *lpcbData = cb;
            return ERROR_MORE_DATA;
        }
        if (lpData)
            memcpy(lpData, v.data.data(), cb);
        *lpcbData = cb;
    }
    return ERROR_SUCCESS;
}

LONG WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData,
                           DWORD cbData) {
    if (!lpData && cbData)
        return ERROR_NOACCESS;
    KeyRef ref;
    LONG r = ResolveHandle(hKey, &ref);
    if (r == ERROR_SUCCESS)
        r = Access(ref, KEY_SET_VALUE);
    if (r != ERROR_SUCCESS)
        return r;
    const std::string name = lpValueName ? lpValueName : "";
    const std::string data(reinterpret_cast<const char*>(lpData), lpData ? cbData : 0);
    return ChangeStore([&](Store& store, bool* pbChanged) -> LONG {
        Key* key = FindKey(store, ref);
        if (!key)
            return ERROR_KEY_DELETED;
        Value& v = key->values[name];
        if (v.name.empty())
            v.name = name;  // a new value keeps the case it is created with
        v.type = dwType;
        v.data = data;
        *pbChanged = true;
        return ERROR_SUCCESS;
    });
}

LONG WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
    if (!lpSubKey)
        return ERROR_INVALID_PARAMETER;
    KeyRef ref;
    std::vector<std::string> names;
    LONG r = ResolvePath(hKey, lpSubKey, &ref, &names);
    if (r != ERROR_SUCCESS)
        return r;
    return ChangeStore([&](Store& store, bool* pbChanged) -> LONG {
        Key* key = FindKey(store, ref);
        if (!key)
            return ERROR_KEY_DELETED;
        // The key to delete and its parent: with an empty subkey path the
        // handle's own key goes, and its parent is found from the root.
        Key* parent = key;
        std::string target;
        if (names.empty()) {
            if (ref.path.empty())
                return ERROR_ACCESS_DENIED;  // a root is never deleted
            parent = &store.roots[ref.root];
            for (size_t i = 0; i + 1 < ref.path.size(); ++i)
                parent = parent->subkeys.find(ref.path[i])->second.get();
            target = ref.path.back();
        } else {
            for (size_t i = 0; i + 1 < names.size(); ++i) {
                auto it = parent->subkeys.find(names[i]);
                if (it == parent->subkeys.end())
                    return ERROR_FILE_NOT_FOUND;
                parent = it->second.get();
            }
            target = names.back();
        }
        auto it = parent->subkeys.find(target);
        if (it == parent->subkeys.end())
            return ERROR_FILE_NOT_FOUND;
        if (!it->second->subkeys.empty())
            return ERROR_ACCESS_DENIED;
        parent->subkeys.erase(it);
        *pbChanged = true;
        return ERROR_SUCCESS;
    });
}

LONG WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
    KeyRef ref;
    LONG r = ResolveHandle(hKey, &ref);
    if (r == ERROR_SUCCESS)
        r = Access(ref, KEY_SET_VALUE);
    if (r != ERROR_SUCCESS)
        return r;
    const std::string name = lpValueName ? lpValueName : "";
    return ChangeStore([&](Store& store, bool* pbChanged) -> LONG {
        Key* key = FindKey(store, ref);
        if (!key)
            return ERROR_KEY_DELETED;
        if (key->values.erase(name) == 0)
            return ERROR_FILE_NOT_FOUND;
        *pbChanged = true;
        return ERROR_SUCCESS;
    });
}

LONG WINAPI RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD, LPSTR lpClass,
                          LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
    if (!lpName || !lpcchName)
        return ERROR_INVALID_PARAMETER;
    Store store;
    const Key* key = nullptr;
    const LONG r = ReadOpenKey(hKey, KEY_ENUMERATE_SUB_KEYS, &store, &key);
    if (r != ERROR_SUCCESS)
        return r;
    if (dwIndex >= key->subkeys.size())
        return ERROR_NO_MORE_ITEMS;
    auto it = key->subkeys.begin();
    std::advance(it, dwIndex);
    const std::string& name = it->second->name;
    if (name.size() >= *lpcchName || (lpClass && lpcchClass && *lpcchClass == 0))
        return ERROR_MORE_DATA;
    memcpy(lpName, name.c_str(), name.size() + 1);
    *lpcchName = (DWORD)name.size();
    if (lpClass && lpcchClass) {
        lpClass[0] = 0;
        *lpcchClass = 0;
    }
    if (lpftLastWriteTime)
        lpftLastWriteTime->dwLowDateTime = lpftLastWriteTime->dwHighDateTime = 0;
    return ERROR_SUCCESS;
}

LONG WINAPI RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName, LPDWORD,
                          LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    if (!lpValueName || !lpcchValueName || (lpData && !lpcbData))
        return ERROR_INVALID_PARAMETER;
    Store store;
    const Key* key = nullptr;
    const LONG r = ReadOpenKey(hKey, KEY_QUERY_VALUE, &store, &key);
    if (r != ERROR_SUCCESS)
        return r;
    if (dwIndex >= key->values.size())
        return ERROR_NO_MORE_ITEMS;
    auto it = key->values.begin();
    std::advance(it, dwIndex);
    // Nothing is written unless name and data both fit; a short data buffer
    // learns the size it needs.
    const Value& v = it->second;
    const DWORD cb = (DWORD)v.data.size();
    if (v.name.size() >= *lpcchValueName)
        return ERROR_MORE_DATA;
    if (lpData && *lpcbData < cb) {
        *lpcbData = cb;
        return ERROR_MORE_DATA;
    }
    memcpy(lpValueName, v.name.c_str(), v.name.size() + 1);
    *lpcchValueName = (DWORD)v.name.size();
    if (lpType)
        *lpType = v.type;
    if (lpData)
        memcpy(lpData, v.data.data(), cb);
    if (lpcbData)
        *lpcbData = cb;
    return ERROR_SUCCESS;
}

}  // extern "C"

extern "C" void CompatSetRegistryWritable(BOOL bWritable) {
    g_bWritable.store(bWritable != FALSE);
}

extern "C" void CompatSetRegistryChangeBudget(long nChanges) {
    g_nChangeBudget.store(nChanges < 0 ? -1 : nChanges);
}

namespace {

// A wide name or text in the ANSI code page; false when it has none.
bool ToAnsi(LPCWSTR psz, size_t cch, std::string* pOut) {
    pOut->clear();
    if (cch == 0)
        return true;
    const int cb = WideCharToMultiByte(CP_ACP, 0, psz, (int)cch, NULL, 0, NULL, NULL);
    if (cb <= 0)
        return false;
    pOut->resize((size_t)cb);
    return WideCharToMultiByte(CP_ACP, 0, psz, (int)cch, &(*pOut)[0], cb, NULL, NULL) == cb;
}

bool IsText(DWORD dwType) {
    return dwType == REG_SZ || dwType == REG_EXPAND_SZ;
}

}  // namespace

extern "C" LONG WINAPI RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData,
                                      DWORD cbData) {
    std::string name;
    if (lpValueName && !ToAnsi(lpValueName, wcslen(lpValueName), &name))
        return ERROR_NO_UNICODE_TRANSLATION;
    if (!IsText(dwType) || !lpData)
        return RegSetValueExA(hKey, lpValueName ? name.c_str() : NULL, 0, dwType, lpData, cbData);
    std::string text;
    if (!ToAnsi(reinterpret_cast<LPCWSTR>(lpData), cbData / sizeof(WCHAR), &text))
        return ERROR_NO_UNICODE_TRANSLATION;
    return RegSetValueExA(hKey, lpValueName ? name.c_str() : NULL, 0, dwType,
                          reinterpret_cast<const BYTE*>(text.data()), (DWORD)text.size());
}

extern "C" LONG WINAPI RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD, LPDWORD lpType,
                                        LPBYTE lpData, LPDWORD lpcbData) {
    if (lpData && !lpcbData)
        return ERROR_INVALID_PARAMETER;
    std::string name;
    if (lpValueName && !ToAnsi(lpValueName, wcslen(lpValueName), &name))
        return ERROR_FILE_NOT_FOUND;
    DWORD dwType = REG_NONE, cb = 0;
    LONG r = RegQueryValueExA(hKey, lpValueName ? name.c_str() : NULL, NULL, &dwType, NULL, &cb);
    if (r != ERROR_SUCCESS)
        return r;
    std::string data(cb, '\0');
    r = RegQueryValueExA(hKey, lpValueName ? name.c_str() : NULL, NULL, &dwType,
                         reinterpret_cast<BYTE*>(&data[0]), &cb);
    if (r != ERROR_SUCCESS)
        return r;
    data.resize(cb);
    if (lpType)
        *lpType = dwType;
    std::wstring wide;
    if (IsText(dwType) && !data.empty()) {
        const int cch = MultiByteToWideChar(CP_ACP, 0, data.data(), (int)data.size(), NULL, 0);
        if (cch <= 0)
            return ERROR_INVALID_DATA;
        wide.resize((size_t)cch);
        MultiByteToWideChar(CP_ACP, 0, data.data(), (int)data.size(), &wide[0], cch);
    }
    const BYTE* pSrc = IsText(dwType) ? reinterpret_cast<const BYTE*>(wide.data())
                                      : reinterpret_cast<const BYTE*>(data.data());
    const DWORD cbOut = IsText(dwType) ? (DWORD)(wide.size() * sizeof(WCHAR)) : (DWORD)data.size();
    if (lpcbData) {
        if (lpData && *lpcbData < cbOut) {
            *lpcbData = cbOut;
            return ERROR_MORE_DATA;
        }
        if (lpData)
            memcpy(lpData, pSrc, cbOut);
        *lpcbData = cbOut;
    }
    return ERROR_SUCCESS;
}
