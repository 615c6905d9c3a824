// The Win32 calls behind the Windows CSerial backend, each through one virtual function of
// this class, so that a test can stand in for the driver: a CancelIo that fails, a transfer
// that never comes back, a WaitCommEvent that cannot wait. The class itself is the real thing:
// every function forwards to the Win32 call of the same name, with nothing added.
#pragma once

#include "win_constants.h"  // <windows.h>

class Win32Api {
public:
    virtual ~Win32Api() = default;

    // Opens a device, with no security attributes and no template.
    virtual HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, DWORD disposition,
                               DWORD flags) {
        return ::CreateFileA(name, access, share, nullptr, disposition, flags, nullptr);
    }
    // Creates an unnamed event with default security.
    virtual HANDLE CreateEventA(BOOL manualReset, BOOL initialState) {
        return ::CreateEventA(nullptr, manualReset, initialState, nullptr);
    }
    // Releases a handle.
    virtual BOOL CloseHandle(HANDLE handle) { return ::CloseHandle(handle); }
    // Reads the line settings.
    virtual BOOL GetCommState(HANDLE port, DCB* dcb) { return ::GetCommState(port, dcb); }
    // Applies the line settings.
    virtual BOOL SetCommState(HANDLE port, DCB* dcb) { return ::SetCommState(port, dcb); }
    // Sets the driver's time-outs.
    virtual BOOL SetCommTimeouts(HANDLE port, COMMTIMEOUTS* timeouts) {
        return ::SetCommTimeouts(port, timeouts);
    }
    // Reports and clears the line errors and fills the port status.
    virtual BOOL ClearCommError(HANDLE port, DWORD* errors, COMSTAT* status) {
        return ::ClearCommError(port, errors, status);
    }
    // Reads the modem lines.
    virtual BOOL GetCommModemStatus(HANDLE port, DWORD* status) {
        return ::GetCommModemStatus(port, status);
    }
    // Sets the events WaitCommEvent waits for; ends a pending wait.
    virtual BOOL SetCommMask(HANDLE port, DWORD mask) { return ::SetCommMask(port, mask); }
    // Starts waiting for one of the masked events.
    virtual BOOL WaitCommEvent(HANDLE port, DWORD* mask, OVERLAPPED* record) {
        return ::WaitCommEvent(port, mask, record);
    }
    // Starts a read.
    virtual BOOL ReadFile(HANDLE port, void* buffer, DWORD count, DWORD* moved,
                          OVERLAPPED* record) {
        return ::ReadFile(port, buffer, count, moved, record);
    }
    // Starts a write.
    virtual BOOL WriteFile(HANDLE port, const void* buffer, DWORD count, DWORD* moved,
                           OVERLAPPED* record) {
        return ::WriteFile(port, buffer, count, moved, record);
    }
    // Waits for an object to be signalled, at most limitMs.
    virtual DWORD WaitForSingleObject(HANDLE object, DWORD limitMs) {
        return ::WaitForSingleObject(object, limitMs);
    }
    // The result of an overlapped request; wait blocks until it has ended.
    virtual BOOL GetOverlappedResult(HANDLE port, OVERLAPPED* record, DWORD* moved, BOOL wait) {
        return ::GetOverlappedResult(port, record, moved, wait);
    }
    // Cancels this thread's pending requests on the port.
    virtual BOOL CancelIo(HANDLE port) { return ::CancelIo(port); }
    // Sets an event to not signalled.
    virtual BOOL ResetEvent(HANDLE event) { return ::ResetEvent(event); }
    // The error code of the call that just failed.
    virtual DWORD GetLastError() { return ::GetLastError(); }
    // The millisecond tick count.
    virtual DWORD GetTickCount() { return ::GetTickCount(); }
    // Pauses ms milliseconds.
    virtual void Sleep(DWORD ms) { ::Sleep(ms); }
};

// The real calls, for every port the program opens.
Win32Api& SystemWin32Api();
