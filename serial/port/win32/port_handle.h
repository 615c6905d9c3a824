// The open port as Windows holds it: the port's handle, and the memory its transfers and its
// input waits go through while the driver has them.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "win32_api.h"
#include "win_constants.h"  // <windows.h>

// How long a cancelled transfer or input wait is given to come back from the driver; one that
// a driver keeps longer must not hang the program.
inline constexpr DWORD kCancelWaitMs = 500;

// What a driver may write to while a transfer or an input wait is under way: the overlapped
// record, its completion event and the bytes. It belongs to the port handle rather than to the
// caller, so that a transfer the driver does not give back can be left with it: such a slot is
// given up (never freed, its event never closed), and a late completion lands in memory that
// is still ours instead of in a buffer the caller has reused or freed.
struct TransferSlot {
    OVERLAPPED record{};
    HANDLE event = nullptr;            // manual reset; the record's hEvent
    std::vector<unsigned char> bytes;  // what a read stores into and a write sends from
    DWORD eventMask = 0;               // where WaitCommEvent reports what happened
};

// Move-only owner of an open port, its transfer slot and its input-wait slot.
class PortHandle {
public:
    PortHandle() = default;
    // Takes port, the completion event of its transfers and (null when there is none) the
    // event of its input waits; all are released through api.
    PortHandle(HANDLE port, HANDLE event, HANDLE waitEvent = nullptr,
               Win32Api& api = SystemWin32Api());
    // Releases what is held.
    ~PortHandle() { Reset(); }
    PortHandle(PortHandle&& other) noexcept;
    PortHandle& operator=(PortHandle&& other) noexcept;
    PortHandle(const PortHandle&) = delete;
    PortHandle& operator=(const PortHandle&) = delete;

    // Whether a port is held (neither 0 nor the invalid-handle value).
    bool IsValid() const { return m_port != nullptr && m_port != INVALID_HANDLE_VALUE; }
    // The port's handle, the invalid-handle value when none is held.
    HANDLE Port() const { return m_port; }
    // The completion event of the port's transfers, 0 when none is held or it was given up.
    HANDLE Event() const { return m_transfer ? m_transfer->event : nullptr; }
    // The slot reads and writes go through; null once it was given up.
    TransferSlot* Transfer() { return m_transfer.get(); }
    // The slot input waits go through; null when there is none or it was given up.
    TransferSlot* InputWait() { return m_inputWait.get(); }

    // Gives up the transfer slot whose transfer the driver keeps; error (the reason it could
    // not be ended) is reported for every transfer from then on.
    void AbandonTransfer(std::uint32_t error);
    // Gives up the input-wait slot whose wait the driver keeps; no wait is started again.
    void AbandonInputWait();
    // Gives up the input-wait slot whose watch read the driver keeps: that read may still take
    // a byte out of order, so the port fails with error from then on.
    void AbandonInputWatch(std::uint32_t error);
    // Whether a transfer was given up: the port then moves nothing any more.
    bool Failed() const { return m_failed; }
    // The error that made the port fail.
    std::uint32_t FailureError() const { return m_failure; }

    // Closes the port first, so that the driver ends what it still has (a pending watch read
    // is cancelled and awaited, bounded, and its slot given up when the driver keeps it), then
    // the events of the slots that were not given up.
    void Reset();

    // The line settings as the port last reported them, so that the fields CSerial does not
    // set go back to the port as they came.
    DCB state{};
    // How input is waited for: not decided yet, by WaitCommEvent, or by looking every
    // millisecond (a driver that cannot wait for input events).
    enum class InputWaitMode {
        kUndecided,
        kEvents,
        kLooking
    } inputWaitMode = InputWaitMode::kUndecided;
    // The one-byte read that waits for input where events cannot: none under way, under way
    // in the input-wait slot, or done with its byte held in the slot's bytes[0] until a read
    // delivers it.
    enum class WatchState { kIdle, kPending, kHolding } watch = WatchState::kIdle;
    // Whether a transfer, wait or status query failed with an error that says the device is
    // gone (removed, its cable pulled, the line hung up): nothing more comes through it.
    bool goneAway = false;

private:
    void Forget();
    void ClosePort();

    Win32Api* m_api = nullptr;
    HANDLE m_port = INVALID_HANDLE_VALUE;
    std::unique_ptr<TransferSlot> m_transfer;
    std::unique_ptr<TransferSlot> m_inputWait;
    bool m_failed = false;
    std::uint32_t m_failure = 0;
};

// What the last read or write through CSerial asked for and moved. The overlapped record
// the driver writes to lives in the port handle's slot, which outlives the call.
struct TransferRecord {
    std::uint32_t requested = 0;
    std::uint32_t moved = 0;
};
