// What the TEST and UPDATE exchanges talk to: the port, its opener, the clock and the front
// end; and what every exchange hands back besides its outcome.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace exchange {

// The operations of an open serial port that the exchanges call.
class IPort {
public:
    virtual ~IPort() = default;  // deleting the port closes it
    // Received bytes waiting in the input queue (0 when the port cannot say).
    virtual int BytesWaiting() = 0;
    // Reads count bytes within limitMs; returns count, or 0 on failure or time-out.
    virtual int Read(void* buffer, int count, int limitMs) = 0;
    // Writes count bytes within limitMs, then paces; returns count, or 0 on failure.
    virtual int Write(const void* buffer, int count, int limitMs) = 0;
    // Reads and discards input until none is waiting.
    virtual void DrainInput() = 0;
    // Whether the port has reported that its device went away (hung up, removed): nothing
    // more can come from it, and a wait on the scanner ends at once. A port that cannot tell
    // never says so.
    virtual bool HasGoneAway() { return false; }
};

// Opens a port by name with the line settings; throws, or returns null, when it cannot.
class IPortOpener {
public:
    virtual ~IPortOpener() = default;
    // Opens and configures the named port (e.g. "\\.\COM4").
    virtual std::unique_ptr<IPort> Open(const std::string& name, int baudRate, char parity,
                                        int dataBits, int stopBits, bool dtr, bool rts) = 0;
};

// The millisecond tick count and the pause, as the exchanges time their windows.
class IClock {
public:
    virtual ~IClock() = default;
    // A free-running 32-bit millisecond counter that wraps.
    virtual std::uint32_t GetTickCount() = 0;
    // Pauses for ms milliseconds; 0 yields the processor.
    virtual void Sleep(std::uint32_t ms) = 0;
};

// The progress of an upload as the front end shows it; deleting it ends the progress.
class IProgressWindow {
public:
    virtual ~IProgressWindow() = default;
    // The bar runs from low to high (image bytes).
    virtual void SetRange32(int low, int high) = 0;
    // Moves the bar to position.
    virtual void SetPos(int position) = 0;
    // What the upload is doing now, as the window's caption.
    virtual void SetCaption(const std::string& caption) = 0;
};

// The port an exchange opens: the name its opener takes and the COM number its messages name.
struct PortToOpen {
    std::string name;   // "\\.\COM4", or a device path
    int comNumber = 0;  // 4
};

// The port "\\.\COMn" for the COM number n.
PortToOpen ComPort(int comNumber);

// How a message reads: a failure, or the plain outcome of a step.
enum class MessageKind { kFailure, kOutcome };

// The front end as the exchanges see it: a dialog, a console, a test. Each call returns once
// the user has seen what it shows; whatever a call throws ends the exchange, its port closed.
class IFrontEnd {
public:
    virtual ~IFrontEnd() = default;
    // The port to open, asked once per exchange before anything else happens.
    virtual PortToOpen Port() = 0;
    // A message the user acknowledges.
    virtual void ShowMessage(const std::string& text, MessageKind kind) = 0;
    // A yes/no question; true for Yes.
    virtual bool AskYesNo(const std::string& text) = 0;
    // TEST: the scanner replied with this version (255: no application code), before the
    // outcome is shown.
    virtual void ScannerReplied(int scannerVersion) = 0;
    // UPDATE: the transfer begins; null when the front end shows no progress.
    virtual std::unique_ptr<IProgressWindow> CreateProgressWindow() = 0;
    // UPDATE: the scanner accepted the image (EOT), once the progress window is gone.
    virtual void UploadAccepted() = 0;
    // UPDATE, on every way out once the port was open: the upload is over; the progress window
    // (when still there) and the port go right after.
    virtual void UploadEnding() {}
};

// What crossed one exchange's port and what it showed, however it ended.
struct ExchangeRecord {
    long bytesSent = 0;       // as the writes accepted them
    long bytesReceived = 0;   // as the reads took them (not what a drain discards)
    int packetsSent = 0;      // TEST: queries; UPDATE: data packets; resends included
    int packetsReceived = 0;  // TEST: the version reply taken; UPDATE: none (answers are bytes)
    int resends = 0;          // TEST: queries sent again; UPDATE: data packets sent again after NAK
    std::vector<std::string> messages;  // the texts shown and asked, in order
    bool portWentAway = false;          // the port reported that its device went away
};

// Everything one exchange needs from outside.
struct ExchangeIo {
    IFrontEnd& front;
    IPortOpener& opener;
    IClock& clock;
};

}  // namespace exchange
