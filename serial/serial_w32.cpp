// The Windows platform behind CSerial: the Win32 serial communications services in
// overlapped mode. Every error code it reports is GetLastError() of the call that failed.
#include <algorithm>
#include <climits>

#include "native_dcb.h"
#include "serial_platform.h"

namespace {

// The error code logged for the Win32 call that just failed.
std::uint32_t LastErrorCode() {
    return static_cast<std::uint32_t>(::GetLastError());
}

TransferResult Result(TransferOutcome outcome, int count = 0, std::uint32_t error = 0) {
    return TransferResult{outcome, count, error};
}

// Prepares the record for a new transfer on the port: offsets 0, the port's own event.
void PrepareRecord(const PortHandle& port, TransferRecord& record) {
    record.Offset = 0;
    record.OffsetHigh = 0;
    record.hEvent = port.Event();
}

// A transfer that is still under way when its caller gives up is cancelled, and its end
// awaited, so that it cannot store into or take from the caller's buffer after the call.
void AbandonTransfer(const PortHandle& port, TransferRecord& record) {
    DWORD moved = 0;
    if (CancelIo(port.Port())) {
        GetOverlappedResult(port.Port(), &record, &moved, TRUE);
    }
    ResetEvent(port.Event());
}

// Waits up to limitMs for the transfer started through record to complete.
TransferResult AwaitTransfer(const PortHandle& port, TransferRecord& record, int limitMs) {
    const DWORD waited =
        WaitForSingleObject(port.Event(), static_cast<DWORD>(std::max(limitMs, 0)));
    if (waited != WAIT_OBJECT_0) {
        AbandonTransfer(port, record);
        return Result(waited == WAIT_TIMEOUT ? TransferOutcome::TimedOut
                                             : TransferOutcome::WaitFailed);
    }
    DWORD moved = 0;
    const bool fetched = GetOverlappedResult(port.Port(), &record, &moved, FALSE) != FALSE;
    const std::uint32_t error = fetched ? 0 : LastErrorCode();
    ResetEvent(port.Event());
    return Result(fetched ? TransferOutcome::Completed : TransferOutcome::ResultFailed,
                  static_cast<int>(moved), error);
}

// The outcome of a ReadFile or WriteFile that returned started: completed at once, under
// way (then awaited), or refused.
TransferResult FinishStart(const PortHandle& port, TransferRecord& record, BOOL started,
                           DWORD moved, int limitMs) {
    if (started) {
        return Result(TransferOutcome::Completed, static_cast<int>(moved));
    }
    const std::uint32_t error = LastErrorCode();
    if (error != ERROR_IO_PENDING) {
        return Result(TransferOutcome::StartFailed, 0, error);
    }
    return AwaitTransfer(port, record, limitMs);
}

class Win32SerialPlatform final : public SerialPlatform {
public:
    PortHandle OpenPort(const char* portName, std::uint32_t& error) override {
        const HANDLE port = CreateFileA(portName, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        if (port == INVALID_HANDLE_VALUE) {
            error = LastErrorCode();
            return {};
        }
        // Without its completion event no transfer could be awaited: the port is given up
        // at once, as one that cannot be opened.
        const HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (event == nullptr) {
            error = LastErrorCode();
            CloseHandle(port);
            return {};
        }
        return PortHandle(port, event);
    }

    bool GetCommState(PortHandle& port, Dcb& dcb, std::uint32_t& error) override {
        DCB native{};
        native.DCBlength = sizeof native;
        if (!::GetCommState(port.Port(), &native)) {
            error = LastErrorCode();
            return false;
        }
        port.state = native;
        dcb = FromNativeDcb(native);
        return true;
    }

    bool SetCommState(PortHandle& port, const Dcb& dcb, std::uint32_t& error) override {
        DCB native = ToNativeDcb(dcb, port.state);
        if (!::SetCommState(port.Port(), &native)) {
            error = LastErrorCode();
            return false;
        }
        port.state = native;
        return true;
    }

    bool SetNoTimeouts(PortHandle& port, std::uint32_t& error) override {
        COMMTIMEOUTS none{};
        if (!SetCommTimeouts(port.Port(), &none)) {
            error = LastErrorCode();
            return false;
        }
        return true;
    }

    CommStatus ClearCommError(PortHandle& port) override {
        CommStatus status;
        if (!port.IsValid()) {
            return status;
        }
        DWORD errors = 0;
        COMSTAT comStat{};
        if (::ClearCommError(port.Port(), &errors, &comStat)) {
            status.errors = errors;
            status.inQueue = static_cast<int>(std::min<DWORD>(comStat.cbInQue, INT_MAX));
        }
        return status;
    }

    TransferResult Read(PortHandle& port, TransferRecord& record, void* buffer, int count,
                        int limitMs) override {
        PrepareRecord(port, record);
        DWORD moved = 0;
        const BOOL started =
            ReadFile(port.Port(), buffer, static_cast<DWORD>(count), &moved, &record);
        return FinishStart(port, record, started, moved, limitMs);
    }

    TransferResult Write(PortHandle& port, TransferRecord& record, const void* buffer, int count,
                         int limitMs) override {
        PrepareRecord(port, record);
        DWORD moved = 0;
        const BOOL started =
            WriteFile(port.Port(), buffer, static_cast<DWORD>(count), &moved, &record);
        return FinishStart(port, record, started, moved, limitMs);
    }

    std::uint32_t GetTickCount() override { return PlatformTickCount(); }

    void Sleep(std::uint32_t ms) override { PlatformSleep(ms); }
};

}  // namespace

Dcb FromNativeDcb(const DCB& native) {
    Dcb dcb;
    dcb.BaudRate = native.BaudRate;
    dcb.fBinary = native.fBinary;
    dcb.fParity = native.fParity;
    dcb.fOutxCtsFlow = native.fOutxCtsFlow;
    dcb.fOutxDsrFlow = native.fOutxDsrFlow;
    dcb.fDtrControl = native.fDtrControl;
    dcb.fDsrSensitivity = native.fDsrSensitivity;
    dcb.fTXContinueOnXoff = native.fTXContinueOnXoff;
    dcb.fOutX = native.fOutX;
    dcb.fInX = native.fInX;
    dcb.fErrorChar = native.fErrorChar;
    dcb.fNull = native.fNull;
    dcb.fRtsControl = native.fRtsControl;
    dcb.fAbortOnError = native.fAbortOnError;
    dcb.wReserved = native.wReserved;
    dcb.XonLim = native.XonLim;
    dcb.XoffLim = native.XoffLim;
    dcb.ByteSize = native.ByteSize;
    dcb.Parity = native.Parity;
    dcb.StopBits = native.StopBits;
    dcb.XonChar = native.XonChar;
    dcb.XoffChar = native.XoffChar;
    dcb.ErrorChar = native.ErrorChar;
    dcb.EofChar = native.EofChar;
    dcb.EvtChar = native.EvtChar;
    return dcb;
}

DCB ToNativeDcb(const Dcb& dcb, DCB native) {
    native.BaudRate = dcb.BaudRate;
    native.fBinary = dcb.fBinary;
    native.fParity = dcb.fParity;
    native.fOutxCtsFlow = dcb.fOutxCtsFlow;
    native.fOutxDsrFlow = dcb.fOutxDsrFlow;
    native.fDtrControl = dcb.fDtrControl;
    native.fDsrSensitivity = dcb.fDsrSensitivity;
    native.fTXContinueOnXoff = dcb.fTXContinueOnXoff;
    native.fOutX = dcb.fOutX;
    native.fInX = dcb.fInX;
    native.fErrorChar = dcb.fErrorChar;
    native.fNull = dcb.fNull;
    native.fRtsControl = dcb.fRtsControl;
    native.fAbortOnError = dcb.fAbortOnError;
    native.wReserved = dcb.wReserved;
    native.XonLim = dcb.XonLim;
    native.XoffLim = dcb.XoffLim;
    native.ByteSize = dcb.ByteSize;
    native.Parity = dcb.Parity;
    native.StopBits = dcb.StopBits;
    native.XonChar = dcb.XonChar;
    native.XoffChar = dcb.XoffChar;
    native.ErrorChar = dcb.ErrorChar;
    native.EofChar = dcb.EofChar;
    native.EvtChar = dcb.EvtChar;
    return native;
}

SerialPlatform& SystemSerialPlatform() {
    static Win32SerialPlatform platform;
    return platform;
}

std::uint32_t PlatformTickCount() {
    return static_cast<std::uint32_t>(::GetTickCount());
}

void PlatformSleep(std::uint32_t ms) {
    ::Sleep(ms);
}
