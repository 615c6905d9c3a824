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

std::vector<comports::ComPortInfo> FindScannerPorts(const std::vector<comports::ComPortInfo>& ports,
                                                    exchange::IPortOpener& opener,
                                                    exchange::IClock& clock,
                                                    ConsoleOutput& output) {
    std::vector<comports::ComPortInfo> found;
    for (const comports::ComPortInfo& info : ports) {
        if (!info.present) {
            continue;  // opening raises DTR and RTS: nothing but present ports is touched
        }
        const std::string com = "COM" + std::to_string(info.comNumber);
        auto port = detail::OpenScannerPort(opener, detail::PortName(info.comNumber - 1));
        if (!port) {
            output.Note(com + ": cannot be opened (held by another program?), left alone");
            continue;
        }
        if (HearsReadyByte(*port, clock)) {
            found.push_back(info);
        }
    }
    return found;
}
