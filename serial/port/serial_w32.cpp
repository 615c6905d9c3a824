// The Windows platform behind CSerial: the Win32 serial communications services in
// overlapped mode, every call through Win32Api. Every error code it reports is GetLastError()
// of the call that failed.
#include "serial_w32.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "native_dcb.h"
#include "serial_platform.h"

namespace {

TransferResult Result(TransferOutcome outcome, int count = 0, std::uint32_t error = 0) {
    return TransferResult{outcome, count, error};
}

// Whether a transfer, wait or status query on a port that was open failed because its device
// is gone. Only errors that a live port does not give: a USB adapter's driver may fail one
// request for a passing reason (a bus error, a power change) and serve the next, and a port
// taken for gone ends the exchange.
bool MeansDeviceGone(std::uint32_t error) {
    switch (error) {
        case ERROR_BROKEN_PIPE:  // the line was hung up: wine's pseudo-terminal ports, for one
        case ERROR_DEVICE_NOT_CONNECTED:  // the device is no longer attached
        case ERROR_DEVICE_REMOVED:        // the device was removed
        // A request on a handle whose device is being deleted (STATUS_DELETE_PENDING); our
        // handle was opened for reading and writing, so nothing else is denied to it.
        case ERROR_ACCESS_DENIED:
            return true;
        // Left out: ERROR_GEN_FAILURE (any unsuccessful request, a single failed USB transfer
        // too), ERROR_BAD_COMMAND and ERROR_NOT_READY (a device in another state for a moment,
        // as while it resumes; wine's status query on a hung-up line gives ERROR_NOT_READY, but
        // its reads give the broken pipe) and ERROR_OPERATION_ABORTED (our own cancels too).
        default:
            return false;
    }
}

class Win32SerialPlatform final : public SerialPlatform {
public:
    explicit Win32SerialPlatform(Win32Api& api) : m_api(api) {}

    PortHandle OpenPort(const char* portName, std::uint32_t& error) override {
        const HANDLE port = m_api.CreateFileA(portName, GENERIC_READ | GENERIC_WRITE, 0,
                                              OPEN_EXISTING, FILE_FLAG_OVERLAPPED);
        if (port == INVALID_HANDLE_VALUE) {
            error = m_api.GetLastError();
            return {};
        }
        // Without its completion event no transfer could be awaited: the port is given up
        // at once, as one that cannot be opened.
        const HANDLE event = m_api.CreateEventA(TRUE, FALSE);
        if (event == nullptr) {
            error = m_api.GetLastError();
            m_api.CloseHandle(port);
            return {};
        }
        // Without an event of its own for input waits the port is looked at instead.
        return PortHandle(port, event, m_api.CreateEventA(TRUE, FALSE), m_api);
    }

    bool GetCommState(PortHandle& port, Dcb& dcb, std::uint32_t& error) override {
        DCB native{};
        native.DCBlength = sizeof native;
        if (!m_api.GetCommState(port.Port(), &native)) {
            error = m_api.GetLastError();
            return false;
        }
        port.state = native;
        dcb = FromNativeDcb(native);
        return true;
    }

    bool SetCommState(PortHandle& port, const Dcb& dcb, std::uint32_t& error) override {
        DCB native = ToNativeDcb(dcb, port.state);
        if (!m_api.SetCommState(port.Port(), &native)) {
            error = m_api.GetLastError();
            return false;
        }
        port.state = native;
        return true;
    }

    bool SetNoTimeouts(PortHandle& port, std::uint32_t& error) override {
        COMMTIMEOUTS none{};
        if (!m_api.SetCommTimeouts(port.Port(), &none)) {
            error = m_api.GetLastError();
            return false;
        }
        return true;
    }

    // A failed port reports nothing waiting, so that the callers' polling loops end. A byte
    // the watch read holds is waiting too; the watch is looked at before the driver, so that a
    // byte it takes meanwhile is never counted twice.
    CommStatus ClearCommError(PortHandle& port) override {
        CommStatus status;
        if (!port.IsValid() || port.Failed()) {
            return status;
        }
        NoteWatchEnd(port);
        const int held = port.watch == PortHandle::WatchState::kHolding ? 1 : 0;
        status.inQueue = held;
        DWORD errors = 0;
        COMSTAT comStat{};
        if (!m_api.ClearCommError(port.Port(), &errors, &comStat)) {
            LastError(port);
            return status;
        }
        status.errors = errors;
        status.inQueue += static_cast<int>(std::min<DWORD>(comStat.cbInQue, INT_MAX - 1));
        return status;
    }

    // A byte the watch read holds comes first; the rest is read through the transfer slot.
    TransferResult Read(PortHandle& port, TransferRecord& record, void* buffer, int count,
                        int limitMs) override {
        TransferSlot* slot = PrepareSlot(port, record, count);
        if (slot == nullptr || !EndWatchRead(port)) {
            return Result(TransferOutcome::StartFailed, 0, port.FailureError());
        }
        auto* bytes = static_cast<unsigned char*>(buffer);
        const int held = TakeHeldByte(port, bytes, count);
        TransferResult result = Result(TransferOutcome::Completed);
        if (held < count || count == 0) {
            result = ReadThroughSlot(port, *slot, bytes + held, count - held, limitMs);
        }
        if (held > 0) {
            // The held byte is the caller's whatever the rest of the read did.
            const bool restMoved = result.outcome == TransferOutcome::Completed ||
                                   result.outcome == TransferOutcome::ResultFailed;
            result = Result(result.outcome == TransferOutcome::ResultFailed
                                ? TransferOutcome::ResultFailed
                                : TransferOutcome::Completed,
                            held + (restMoved ? result.count : 0), result.error);
        }
        record.moved = static_cast<std::uint32_t>(result.count);
        return result;
    }

    TransferResult Write(PortHandle& port, TransferRecord& record, const void* buffer, int count,
                         int limitMs) override {
        TransferSlot* slot = PrepareSlot(port, record, count);
        if (slot == nullptr) {
            return Result(TransferOutcome::StartFailed, 0, port.FailureError());
        }
        std::memcpy(slot->bytes.data(), buffer, static_cast<std::size_t>(count));
        DWORD moved = 0;
        const BOOL started = m_api.WriteFile(port.Port(), slot->bytes.data(),
                                             static_cast<DWORD>(count), &moved, &slot->record);
        const TransferResult result = FinishStart(port, *slot, started, moved, limitMs);
        if (result.outcome == TransferOutcome::Completed) {
            record.moved = static_cast<std::uint32_t>(result.count);
        }
        return result;
    }

    std::uint32_t GetTickCount() override { return m_api.GetTickCount(); }

    void Sleep(std::uint32_t ms) override { m_api.Sleep(ms); }

    // Sleeps until input arrives or the limit passes: by an input event, or (a driver that
    // cannot wait for input events) on a one-byte watch read that is left under way for the
    // next wait when the limit runs out. Without either it looks every millisecond.
    void WaitForInput(PortHandle& port, int limitMs) override {
        if (limitMs <= 0 || !port.IsValid()) {
            return;
        }
        if (port.Failed()) {
            m_api.Sleep(static_cast<DWORD>(limitMs));  // nothing will come; no spinning on it
            return;
        }
        if (port.inputWaitMode == PortHandle::InputWaitMode::kUndecided) {
            DecideInputWait(port);
        }
        if (port.inputWaitMode == PortHandle::InputWaitMode::kEvents) {
            AwaitInputEvent(port, *port.InputWait(), static_cast<DWORD>(limitMs));
        } else {
            WatchForInput(port, limitMs);
        }
    }

    bool HasHungUp(PortHandle& port) override { return port.goneAway; }

private:
    // The error of the transfer, wait or status query on port that just failed; one that says
    // the device is gone is kept on the port.
    std::uint32_t LastError(PortHandle& port) {
        const std::uint32_t error = m_api.GetLastError();
        port.goneAway = port.goneAway || MeansDeviceGone(error);
        return error;
    }

    // Reads up to count bytes through the transfer slot into buffer.
    TransferResult ReadThroughSlot(PortHandle& port, TransferSlot& slot, unsigned char* buffer,
                                   int count, int limitMs) {
        DWORD moved = 0;
        const BOOL started = m_api.ReadFile(port.Port(), slot.bytes.data(),
                                            static_cast<DWORD>(count), &moved, &slot.record);
        TransferResult result = FinishStart(port, slot, started, moved, limitMs);
        if (result.outcome == TransferOutcome::Completed ||
            result.outcome == TransferOutcome::ResultFailed) {
            // Only what the driver reports, and never more than the caller's buffer holds.
            result.count = std::clamp(result.count, 0, count);
            std::memcpy(buffer, slot.bytes.data(), static_cast<std::size_t>(result.count));
        }
        return result;
    }

    // The port's transfer slot made ready for count bytes; null when the port failed.
    static TransferSlot* PrepareSlot(PortHandle& port, TransferRecord& record, int count) {
        record.requested = static_cast<std::uint32_t>(count);
        record.moved = 0;
        TransferSlot* slot = port.Transfer();
        if (slot == nullptr || port.Failed()) {
            return nullptr;
        }
        slot->record = OVERLAPPED{};
        slot->record.hEvent = slot->event;
        slot->bytes.resize(static_cast<std::size_t>(std::max(count, 1)));
        return slot;
    }

    // The outcome of a ReadFile or WriteFile: completed at once, under way (then awaited), or
    // refused.
    TransferResult FinishStart(PortHandle& port, TransferSlot& slot, BOOL started, DWORD moved,
                               int limitMs) {
        if (started) {
            return Result(TransferOutcome::Completed, static_cast<int>(moved));
        }
        const std::uint32_t error = LastError(port);
        if (error != ERROR_IO_PENDING) {
            return Result(TransferOutcome::StartFailed, 0, error);
        }
        return AwaitTransfer(port, slot, limitMs);
    }

    // Waits up to limitMs for the transfer to complete; one that does not is ended.
    TransferResult AwaitTransfer(PortHandle& port, TransferSlot& slot, int limitMs) {
        const DWORD waited =
            m_api.WaitForSingleObject(slot.event, static_cast<DWORD>(std::max(limitMs, 0)));
        if (waited != WAIT_OBJECT_0) {
            EndTransfer(port, slot);
            return Result(waited == WAIT_TIMEOUT ? TransferOutcome::TimedOut
                                                 : TransferOutcome::WaitFailed);
        }
        DWORD moved = 0;
        const bool fetched =
            m_api.GetOverlappedResult(port.Port(), &slot.record, &moved, FALSE) != FALSE;
        const std::uint32_t error = fetched ? 0 : LastError(port);
        m_api.ResetEvent(slot.event);
        return Result(fetched ? TransferOutcome::Completed : TransferOutcome::ResultFailed,
                      static_cast<int>(moved), error);
    }

    // Cancels a transfer the caller gives up on and waits, bounded, for the driver to give it
    // back, also when the cancel itself fails. One it keeps is left with its slot, and the
    // port fails from then on: its record must never be reused while it may be in flight.
    void EndTransfer(PortHandle& port, TransferSlot& slot) {
        const bool cancelled = m_api.CancelIo(port.Port()) != FALSE;
        const std::uint32_t cancelError = cancelled ? 0 : m_api.GetLastError();
        if (!AwaitReturn(port, slot)) {
            port.AbandonTransfer(cancelled ? WAIT_TIMEOUT : cancelError);
        }
    }

    // Whether the request in slot came back within the bound; its result is then collected
    // without waiting and the event reset.
    bool AwaitReturn(PortHandle& port, TransferSlot& slot) {
        if (m_api.WaitForSingleObject(slot.event, kCancelWaitMs) != WAIT_OBJECT_0) {
            return false;
        }
        DWORD moved = 0;
        if (!m_api.GetOverlappedResult(port.Port(), &slot.record, &moved, FALSE)) {
            LastError(port);
        }
        m_api.ResetEvent(slot.event);
        return true;
    }

    // Input events need the event mask, and a driver that can report the modem lines: wine,
    // for one, ends every wait at once as aborted on a port without them (a pseudo-terminal).
    void DecideInputWait(PortHandle& port) {
        DWORD modemStatus = 0;
        const bool canWait = port.InputWait() != nullptr &&
                             m_api.GetCommModemStatus(port.Port(), &modemStatus) &&
                             m_api.SetCommMask(port.Port(), EV_RXCHAR);
        port.inputWaitMode =
            canWait ? PortHandle::InputWaitMode::kEvents : PortHandle::InputWaitMode::kLooking;
    }

    // One WaitCommEvent for received input, waited for at most limitMs, then ended.
    void AwaitInputEvent(PortHandle& port, TransferSlot& wait, DWORD limitMs) {
        wait.record = OVERLAPPED{};
        wait.record.hEvent = wait.event;
        wait.eventMask = 0;
        if (m_api.WaitCommEvent(port.Port(), &wait.eventMask, &wait.record)) {
            NoteEnd(port, wait.eventMask != 0);
            return;
        }
        if (LastError(port) != ERROR_IO_PENDING) {
            port.inputWaitMode = PortHandle::InputWaitMode::kLooking;  // waits refused
            return;
        }
        // Input that came before the wait started raises no event: look at it once.
        if (ClearCommError(port).inQueue == 0 &&
            m_api.WaitForSingleObject(wait.event, limitMs) == WAIT_OBJECT_0) {
            DWORD moved = 0;
            const bool fetched =
                m_api.GetOverlappedResult(port.Port(), &wait.record, &moved, FALSE) != FALSE;
            if (!fetched) {
                LastError(port);
            }
            m_api.ResetEvent(wait.event);
            NoteEnd(port, fetched && wait.eventMask != 0);
            return;
        }
        EndInputWait(port, wait);
    }

    // A wait the driver ended by itself with no event and no input shows that it cannot wait;
    // the caller would otherwise spin on waits that return at once.
    void NoteEnd(PortHandle& port, bool withEvent) {
        if (!withEvent && ClearCommError(port).inQueue == 0) {
            port.inputWaitMode = PortHandle::InputWaitMode::kLooking;
        }
    }

    // Cancels the pending wait and awaits it, bounded; a new event mask ends a wait as well,
    // where the cancel fails or is not obeyed. A wait the driver keeps is left with its slot.
    void EndInputWait(PortHandle& port, TransferSlot& wait) {
        m_api.CancelIo(port.Port());
        if (AwaitReturn(port, wait)) {
            return;
        }
        m_api.SetCommMask(port.Port(), EV_RXCHAR);
        if (!AwaitReturn(port, wait)) {
            port.AbandonInputWait();
        }
    }

    // Waits up to limitMs on the watch read, started when none is under way; a watch read that
    // cannot be started or fails (a hang-up) is not waited on again at once: this call looks
    // every millisecond instead.
    void WatchForInput(PortHandle& port, int limitMs) {
        TransferSlot* watch = port.InputWait();
        if (watch == nullptr ||
            (port.watch == PortHandle::WatchState::kIdle && !StartWatch(port, *watch))) {
            LookForInput(port, limitMs);
            return;
        }
        if (port.watch == PortHandle::WatchState::kHolding) {
            return;  // a byte is waiting
        }
        const DWORD waited = m_api.WaitForSingleObject(watch->event, static_cast<DWORD>(limitMs));
        if (waited == WAIT_TIMEOUT) {
            return;  // left under way for the next wait
        }
        if (waited != WAIT_OBJECT_0 || !CollectWatch(port, *watch)) {
            LookForInput(port, limitMs);
        }
    }

    // Starts the one-byte watch read; whether it is under way or brought its byte at once.
    bool StartWatch(PortHandle& port, TransferSlot& watch) {
        watch.record = OVERLAPPED{};
        watch.record.hEvent = watch.event;
        watch.bytes.resize(1);
        DWORD moved = 0;
        if (m_api.ReadFile(port.Port(), watch.bytes.data(), 1, &moved, &watch.record)) {
            m_api.ResetEvent(watch.event);
            port.watch =
                moved == 1 ? PortHandle::WatchState::kHolding : PortHandle::WatchState::kIdle;
            return port.watch == PortHandle::WatchState::kHolding;
        }
        if (LastError(port) != ERROR_IO_PENDING) {
            return false;
        }
        port.watch = PortHandle::WatchState::kPending;
        return true;
    }

    // The result of a watch read that has ended: its byte held, or (failed, cancelled) none.
    bool CollectWatch(PortHandle& port, TransferSlot& watch) {
        DWORD moved = 0;
        const bool fetched =
            m_api.GetOverlappedResult(port.Port(), &watch.record, &moved, FALSE) != FALSE;
        if (!fetched) {
            LastError(port);
        }
        m_api.ResetEvent(watch.event);
        port.watch = fetched && moved == 1 ? PortHandle::WatchState::kHolding
                                           : PortHandle::WatchState::kIdle;
        return port.watch == PortHandle::WatchState::kHolding;
    }

    // Collects a watch read that has ended since it was last looked at, without waiting.
    void NoteWatchEnd(PortHandle& port) {
        if (port.watch == PortHandle::WatchState::kPending &&
            m_api.WaitForSingleObject(port.InputWait()->event, 0) == WAIT_OBJECT_0) {
            CollectWatch(port, *port.InputWait());
        }
    }

    // Ends a watch read still under way before a read, so that the bytes stay in order: one
    // that had taken its byte keeps it held. Whether it ended; one the driver keeps may still
    // take a byte out of order, and the port fails.
    bool EndWatchRead(PortHandle& port) {
        if (port.watch != PortHandle::WatchState::kPending) {
            return true;
        }
        TransferSlot& watch = *port.InputWait();
        const bool cancelled = m_api.CancelIo(port.Port()) != FALSE;
        const std::uint32_t cancelError = cancelled ? 0 : m_api.GetLastError();
        if (m_api.WaitForSingleObject(watch.event, kCancelWaitMs) == WAIT_OBJECT_0) {
            CollectWatch(port, watch);
            return true;
        }
        port.AbandonInputWatch(cancelled ? WAIT_TIMEOUT : cancelError);
        return false;
    }

    // Moves a held byte to the front of a read of at least one byte; how many it moved.
    static int TakeHeldByte(PortHandle& port, unsigned char* bytes, int count) {
        if (count < 1 || port.watch != PortHandle::WatchState::kHolding) {
            return 0;
        }
        bytes[0] = port.InputWait()->bytes[0];
        port.watch = PortHandle::WatchState::kIdle;
        return 1;
    }

    // Looks for input every millisecond until some is waiting or limitMs have passed.
    void LookForInput(PortHandle& port, int limitMs) {
        for (int slept = 0; slept < limitMs; ++slept) {
            m_api.Sleep(1);
            if (ClearCommError(port).inQueue > 0) {
                return;
            }
        }
    }

    Win32Api& m_api;
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

Win32Api& SystemWin32Api() {
    static Win32Api api;
    return api;
}

std::unique_ptr<SerialPlatform> CreateWin32SerialPlatform(Win32Api& api) {
    return std::make_unique<Win32SerialPlatform>(api);
}

SerialPlatform& SystemSerialPlatform() {
    static Win32SerialPlatform platform(SystemWin32Api());
    return platform;
}

std::uint32_t PlatformTickCount() {
    return static_cast<std::uint32_t>(::GetTickCount());
}

void PlatformSleep(std::uint32_t ms) {
    ::Sleep(ms);
}
