// Descriptions of error codes: the system message table and the media
// run-time's texts, for the codes the system meets.
#include "kobject.h"

#include <errors.h>
#include <string.h>

namespace {

struct Message {
    DWORD code;
    const char* text;
};

// Texts as the system message table gives them, each ending in a line break.
const Message kSystemMessages[] = {
    {ERROR_SUCCESS, "The operation completed successfully.\r\n"},
    {ERROR_INVALID_FUNCTION, "Incorrect function.\r\n"},
    {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified.\r\n"},
    {ERROR_PATH_NOT_FOUND, "The system cannot find the path specified.\r\n"},
    {ERROR_TOO_MANY_OPEN_FILES, "The system cannot open the file.\r\n"},
    {ERROR_ACCESS_DENIED, "Access is denied.\r\n"},
    {ERROR_INVALID_HANDLE, "The handle is invalid.\r\n"},
    {ERROR_NOT_ENOUGH_MEMORY, "Not enough memory resources are available to process this command.\r\n"},
    {ERROR_OUTOFMEMORY, "Not enough memory resources are available to complete this operation.\r\n"},
    {ERROR_NOT_READY, "The device is not ready.\r\n"},
    {ERROR_SEEK, "The drive cannot locate a specific area or track on the disk.\r\n"},
    {ERROR_READ_FAULT, "The system cannot read from the specified device.\r\n"},
    {ERROR_GEN_FAILURE, "A device attached to the system is not functioning.\r\n"},
    {ERROR_SHARING_VIOLATION,
     "The process cannot access the file because it is being used by another process.\r\n"},
    {ERROR_HANDLE_EOF, "Reached the end of the file.\r\n"},
    {ERROR_NOT_SUPPORTED, "The request is not supported.\r\n"},
    {ERROR_FILE_EXISTS, "The file exists.\r\n"},
    {ERROR_INVALID_PARAMETER, "The parameter is incorrect.\r\n"},
    {ERROR_DISK_FULL, "There is not enough space on the disk.\r\n"},
    {ERROR_CALL_NOT_IMPLEMENTED, "This function is not supported on this system.\r\n"},
    {ERROR_INSUFFICIENT_BUFFER, "The data area passed to a system call is too small.\r\n"},
    {ERROR_INVALID_NAME, "The filename, directory name, or volume label syntax is incorrect.\r\n"},
    {ERROR_MOD_NOT_FOUND, "The specified module could not be found.\r\n"},
    {ERROR_PROC_NOT_FOUND, "The specified procedure could not be found.\r\n"},
    {ERROR_NEGATIVE_SEEK,
     "An attempt was made to move the file pointer before the beginning of the file.\r\n"},
    {ERROR_BUSY, "The requested resource is in use.\r\n"},
    {ERROR_ALREADY_EXISTS, "Cannot create a file when that file already exists.\r\n"},
    {ERROR_BAD_EXE_FORMAT, "%1 is not a valid Win32 application.\r\n"},
    {ERROR_FILENAME_EXCED_RANGE, "The filename or extension is too long.\r\n"},
    {ERROR_MORE_DATA, "More data is available.\r\n"},
    {WAIT_TIMEOUT, "The wait operation timed out.\r\n"},
    {ERROR_NO_MORE_ITEMS, "No more data is available.\r\n"},
    {ERROR_TOO_MANY_POSTS, "Too many posts were made to a semaphore.\r\n"},
    {ERROR_INVALID_ADDRESS, "Attempt to access invalid address.\r\n"},
    {ERROR_OPERATION_ABORTED,
     "The I/O operation has been aborted because of either a thread exit or an "
     "application request.\r\n"},
    {ERROR_NOACCESS, "Invalid access to memory location.\r\n"},
    {ERROR_NO_UNICODE_TRANSLATION,
     "No mapping for the Unicode character exists in the target multi-byte code page.\r\n"},
    {ERROR_CANT_RESOLVE_FILENAME, "The name of the file cannot be resolved by the system.\r\n"},
    {(DWORD)E_UNEXPECTED, "Catastrophic failure\r\n"},
    {(DWORD)E_NOTIMPL, "Not implemented\r\n"},
    {(DWORD)E_NOINTERFACE, "No such interface supported\r\n"},
    {(DWORD)E_POINTER, "Invalid pointer\r\n"},
    {(DWORD)E_ABORT, "Operation aborted\r\n"},
    {(DWORD)E_FAIL, "Unspecified error\r\n"},
    {(DWORD)CLASS_E_NOAGGREGATION, "Class does not support aggregation (or class object is remote)\r\n"},
    {(DWORD)CLASS_E_CLASSNOTAVAILABLE, "ClassFactory cannot supply requested class\r\n"},
    {(DWORD)REGDB_E_CLASSNOTREG, "Class not registered\r\n"},
    {(DWORD)CO_E_NOTINITIALIZED, "CoInitialize has not been called.\r\n"},
};

// The media run-time's texts (no trailing line break).
const Message kMediaMessages[] = {
    {0x80040203, "The enumerator has become invalid."},
    {0x80040204, "The specified pin is already connected."},
    {0x80040207, "No acceptable types were found."},
    {0x80040208, "Two pins of the same direction cannot be connected together."},
    {0x80040209, "The operation cannot be performed because the pins are not connected."},
    {0x8004020C, "The buffer is not big enough."},
    {0x8004020D, "An attempt was made to commit more buffers than are available."},
    {0x8004020E, "An invalid alignment was specified."},
    {0x8004020F, "Cannot change allocated memory while the filter is active."},
    {0x80040210, "One or more buffers are still active."},
    {0x80040211, "Cannot allocate a sample when the allocator is not active."},
    {0x80040212, "Cannot allocate memory because no size has been set."},
    {0x80040216, "An object or name was not found."},
    {0x80040224, "The operation could not be performed because the filter graph is not stopped."},
    {0x8004022A, "This pin cannot use the supplied media type."},
    {0x8004022E, "A time-out has expired."},
    {0x80040249, "The sample has no time stamps set."},
    {0x80040251, "No media time stamp was set for this sample."},
    {0x8004025F, "The operation could not be performed because the filter is not in the filter graph."},
    {0x00040260, "The stream duration is estimated."},
    {0x00040270, "The stop time for the sample was not set."},
};

const char* Find(const Message* table, size_t n, DWORD code) {
    for (size_t i = 0; i < n; ++i)
        if (table[i].code == code)
            return table[i].text;
    return nullptr;
}

}  // namespace

extern "C" {

DWORD WINAPI FormatMessageA(DWORD dwFlags, LPCVOID, DWORD dwMessageId, DWORD, LPSTR lpBuffer, DWORD nSize,
                            va_list*) {
    if (!(dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) || (dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) || !lpBuffer) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const size_t n = sizeof(kSystemMessages) / sizeof(kSystemMessages[0]);
    const char* text = Find(kSystemMessages, n, dwMessageId);
    // An HRESULT made from a Win32 error has the error's text.
    if (!text && (dwMessageId & 0xFFFF0000) == 0x80070000)
        text = Find(kSystemMessages, n, dwMessageId & 0xFFFF);
    if (!text) {
        SetLastError(ERROR_MR_MID_NOT_FOUND);
        return 0;
    }
    DWORD len = (DWORD)strlen(text);
    if (len >= nSize) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    memcpy(lpBuffer, text, len + 1);
    return len;
}

DWORD WINAPI AMGetErrorTextA(HRESULT hr, LPSTR pbuffer, DWORD MaxLen) {
    if (!pbuffer || MaxLen == 0)
        return 0;
    const char* text = Find(kMediaMessages, sizeof(kMediaMessages) / sizeof(kMediaMessages[0]), (DWORD)hr);
    if (!text)
        return 0;
    DWORD len = (DWORD)strlen(text);
    if (len >= MaxLen)
        return 0;
    memcpy(pbuffer, text, len + 1);
    return len;
}

}  // extern "C"
