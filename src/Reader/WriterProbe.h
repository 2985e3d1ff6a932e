// The writer probe: whether another process still writes a file, told the
// one way Windows tells it. An open for read access that refuses others'
// writes fails exactly while some handle has write access; readers, whatever
// they share, never make it fail. The handle lives for the call alone: while
// it exists, a recorder that opens its file again to append is refused.
// Natively the platform layer answers the same open from the processes it
// can see and from the file's own signs.
#pragma once

#include <windows.h>

// What tells two open files apart: the volume and the file's index on it.
struct FileIdentity {
    DWORD dwVolume;
    DWORD dwIndexHigh;
    DWORD dwIndexLow;
    static FileIdentity Of(const BY_HANDLE_FILE_INFORMATION& info) {
        return {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
    }
    bool operator==(const FileIdentity& o) const {
        return dwVolume == o.dwVolume && dwIndexHigh == o.dwIndexHigh && dwIndexLow == o.dwIndexLow;
    }
};

// True unless another process writes the file the name leads to and that
// file is still the one identified (a name that leads to another file now,
// or to none, means nobody writes ours).
bool ProbeWriteComplete(LPCSTR pszName, const FileIdentity& id);
