#include "console_fakes.h"

#include "link_frame.h"

namespace consolefakes {

std::unique_ptr<FirmwarePayload> SmallFirmware() {
    auto firmware = std::make_unique<FirmwarePayload>();
    firmware->version = 0x11;
    firmware->imageLength = 250;
    for (std::uint32_t i = 0; i < firmware->imageLength; ++i) {
        firmware->image[i] = static_cast<std::uint8_t>(i * 37 + 11);
    }
    return firmware;
}

ConsoleScanner::ConsoleScanner(fakes::ScriptedPort& port, std::uint32_t imageLength)
    : upload(port, imageLength), m_port(port) {
    auto uploadHandler = port.onWrite;  // the ScriptedScanner's, set by its constructor
    port.onWrite = [this, uploadHandler](const fakes::WriteRecord& write) {
        const fakes::Bytes query(scanlink::kQueryPacket.begin(), scanlink::kQueryPacket.end());
        if (write.bytes == query) {
            ++queries;
            if (answerQuery) {
                m_port.ArriveAfter(1, fakes::VersionReply(versionDigits[0], versionDigits[1]));
            }
        } else if (write.bytes == fakes::Bytes{scanlink::ACK}) {
            m_port.ArriveAfter(150, upload.readyBytes);  // TEST is over; UPDATE opens next
        } else {
            uploadHandler(write);
        }
    };
}

void ConsoleScanner::Begin() {
    if (sendReady) {
        m_port.Arrive(150, upload.readyBytes);
    }
}

LineRead ScriptedInput::ReadLine(std::string& line) {
    ++reads;
    if (lines.empty()) {
        return LineRead::kEnd;
    }
    line = lines.front();
    lines.pop_front();
    if (line == "^C") {
        m_interrupts.Press();
        return LineRead::kInterrupted;
    }
    return LineRead::kLine;
}

ConsoleBench::ConsoleBench(const FirmwarePayload& payload, bool errIsTerminal, bool quiet)
    : firmware(payload) {
    modes.errIsTerminal = errIsTerminal;
    modes.quiet = quiet;
    SetAnswers(false, true);
}

void ConsoleBench::SetAnswers(bool inputIsTerminal, bool assumeYes) {
    modes.inIsTerminal = inputIsTerminal;
    modes.assumeYes = assumeYes;
    console = std::make_unique<Console>(out, err, modes, interrupts, input);
    surroundings = std::make_unique<ConsoleSurroundings>(ConsoleSurroundings{
        *console, opener, clock, keepAwake, firmware, kBenchSha256, [this] { return ports; },
        [this](const std::string& port) {
            whyAskedOf.push_back(port);
            return whyNotOpened;
        }});
}

}  // namespace consolefakes
