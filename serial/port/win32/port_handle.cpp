#include "port_handle.h"

#include <utility>

namespace {

std::unique_ptr<TransferSlot> SlotFor(HANDLE event) {
    if (event == nullptr) {
        return nullptr;
    }
    auto slot = std::make_unique<TransferSlot>();
    slot->event = event;
    return slot;
}

// A slot the driver still has is left to it for good: neither freed nor its event closed.
void GiveUp(std::unique_ptr<TransferSlot>& slot) {
    static_cast<void>(slot.release());
}

}  // namespace

PortHandle::PortHandle(HANDLE port, HANDLE event, HANDLE waitEvent, Win32Api& api)
    : m_api(&api), m_port(port), m_transfer(SlotFor(event)), m_inputWait(SlotFor(waitEvent)) {}

PortHandle::PortHandle(PortHandle&& other) noexcept
    : state(other.state),
      inputWaitMode(other.inputWaitMode),
      watch(other.watch),
      goneAway(other.goneAway),
      m_api(other.m_api),
      m_port(other.m_port),
      m_transfer(std::move(other.m_transfer)),
      m_inputWait(std::move(other.m_inputWait)),
      m_failed(other.m_failed),
      m_failure(other.m_failure) {
    other.Forget();
}

PortHandle& PortHandle::operator=(PortHandle&& other) noexcept {
    if (this != &other) {
        Reset();
        state = other.state;
        inputWaitMode = other.inputWaitMode;
        watch = other.watch;
        goneAway = other.goneAway;
        m_api = other.m_api;
        m_port = other.m_port;
        m_transfer = std::move(other.m_transfer);
        m_inputWait = std::move(other.m_inputWait);
        m_failed = other.m_failed;
        m_failure = other.m_failure;
        other.Forget();
    }
    return *this;
}

void PortHandle::AbandonTransfer(std::uint32_t error) {
    GiveUp(m_transfer);
    m_failed = true;
    m_failure = error;
}

void PortHandle::AbandonInputWait() {
    GiveUp(m_inputWait);
    inputWaitMode = InputWaitMode::kLooking;
    watch = WatchState::kIdle;
}

void PortHandle::AbandonInputWatch(std::uint32_t error) {
    AbandonInputWait();
    m_failed = true;
    m_failure = error;
}

void PortHandle::Reset() {
    if (m_api != nullptr) {
        // Closing the port ends its pending requests; only then may their events go, or a
        // late completion would signal a handle value Windows has handed out again.
        ClosePort();
        for (auto* slot : {m_transfer.get(), m_inputWait.get()}) {
            if (slot != nullptr) {
                m_api->CloseHandle(slot->event);
            }
        }
    }
    m_transfer.reset();
    m_inputWait.reset();
    Forget();
}

// Closes the port; a watch read still under way is cancelled first and awaited, bounded, after
// the close, so that its slot is freed only once the driver gave it back.
void PortHandle::ClosePort() {
    const bool watching = m_inputWait != nullptr && watch == WatchState::kPending;
    if (IsValid()) {
        if (watching) {
            m_api->CancelIo(m_port);
        }
        m_api->CloseHandle(m_port);
    }
    if (watching &&
        m_api->WaitForSingleObject(m_inputWait->event, kCancelWaitMs) != WAIT_OBJECT_0) {
        GiveUp(m_inputWait);
    }
}

void PortHandle::Forget() {
    m_port = INVALID_HANDLE_VALUE;
    m_transfer.reset();
    m_inputWait.reset();
    m_failed = false;
    m_failure = 0;
    inputWaitMode = InputWaitMode::kUndecided;
    watch = WatchState::kIdle;
    goneAway = false;
}
