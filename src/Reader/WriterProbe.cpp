// The writer probe (see the header).
#include "Reader/WriterProbe.h"

#include "DShowX/DSTrace.h"

bool ProbeWriteComplete(LPCSTR pszName, const FileIdentity& id) {
    // Read access, refusing others' writes: this fails exactly while some
    // handle has write access. Readers, whatever they share, never make it
    // fail. The handle lives for this call only: while it exists a recorder
    // that opens its file again to append is refused.
    HANDLE hFile =
        CreateFileA(pszName, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, NULL, OPEN_EXISTING, 0, NULL);
    if (hFile != INVALID_HANDLE_VALUE) {
        CloseHandle(hFile);
        DSTrace(TRACE_APP1, 8, "CFileSourceOutput::IsWriteComplete() - ::CreateFile() SUCCEEDED\n");
        return true;
    }
    const DWORD dwErr = GetLastError();
    if (dwErr != ERROR_SHARING_VIOLATION) {
        // Gone (deleted), or refused for another reason: nobody can be seen
        // writing it.
        DSTrace(TRACE_APP1, 8, "CFileSourceOutput::IsWriteComplete() - ::CreateFile() FAILED dwErr = %d\n",
                dwErr);
        return true;
    }
    // Someone writes the file the name leads to: is it still ours? An open
    // for attributes alone meets no share mode. When that cannot tell, the
    // writer counts.
    bool bSameFile = true;
    hFile = CreateFileA(pszName, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        NULL, OPEN_EXISTING, 0, NULL);
    if (hFile != INVALID_HANDLE_VALUE) {
        BY_HANDLE_FILE_INFORMATION info = {};
        if (GetFileInformationByHandle(hFile, &info))
            bSameFile = FileIdentity::Of(info) == id;
        CloseHandle(hFile);
    }
    if (!bSameFile) {
        DSTrace(TRACE_APP1, 8,
                "CFileSourceOutput::IsWriteComplete() - the name leads to ANOTHER FILE now: nobody writes "
                "ours\n");
        return true;
    }
    DSTrace(TRACE_APP1, 8,
            "CFileSourceOutput::IsWriteComplete() - FILE OPENED FOR WRITE BY ANOTHER PROCESS\n");
    return false;
}
