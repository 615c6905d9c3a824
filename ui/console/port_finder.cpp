#include "port_finder.h"

#include "exchange_support.h"
#include "link_frame.h"

namespace {

namespace detail = exchange::detail;

// Listens for 'C' for up to kFindListenMs; other bytes are dropped.
bool HearsReadyByte(exchange::IPort& port, exchange::IClock& clock) {
    const detail::TimeWindow window(clock, kFindListenMs);
    while (!window.HasRunOut()) {
        std::uint8_t received = scanlink::NOTHING;
        if (detail::ReadWaitingByte(port, received) && received == scanlink::READY) {
            return true;
        }
    }
    return false;
}

}  // namespace

FoundPorts FindScannerPorts(const std::vector<comports::ComPortInfo>& ports,
                            exchange::IPortOpener& opener, exchange::IClock& clock,
                            ConsoleOutput& output, const WhyNotOpenedLook& whyNotOpened) {
    FoundPorts found;
    for (const comports::ComPortInfo& info : ports) {
        if (!info.present) {
            continue;  // opening raises DTR and RTS: nothing but present ports is touched
        }
        const std::string com = "COM" + std::to_string(info.comNumber);
        auto port = detail::OpenScannerPort(opener, exchange::ComPort(info.comNumber).name);
        if (!port) {
            found.notOpened.push_back(info);
            output.Note(com + ": cannot be opened, left alone");
            // The reason, as test gives it: a refusal, shown also with --quiet.
            if (const std::string why = whyNotOpened ? whyNotOpened(com) : ""; !why.empty()) {
                output.Alert(why);
            }
            continue;
        }
        if (HearsReadyByte(*port, clock)) {
            found.answering.push_back(info);
        }
    }
    return found;
}

std::string ComNames(const std::vector<comports::ComPortInfo>& ports) {
    std::string names;
    for (const auto& info : ports) {
        names += (names.empty() ? "COM" : ", COM") + std::to_string(info.comNumber);
    }
    return names;
}
