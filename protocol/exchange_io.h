// What the TEST and UPDATE exchanges talk to: the port, its opener, the clock and the dialog.
// The dialog implements the view; tests give scripted and recording stand-ins.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

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

// The modeless progress window; deleting it destroys the window.
class IProgressWindow {
public:
    virtual ~IProgressWindow() = default;
    // PBM_SETRANGE32: the bar runs from low to high.
    virtual void SetRange32(int low, int high) = 0;
    // PBM_SETPOS: moves the bar to position.
    virtual void SetPos(int position) = 0;
    // Sets the window's caption.
    virtual void SetCaption(const std::string& caption) = 0;
};

// The main dialog as the exchanges see it. Controls are addressed by their identifiers.
class IUpdaterView {
public:
    virtual ~IUpdaterView() = default;
    // The COM port list's current selection (CB_GETCURSEL), zero-based.
    virtual int GetPortSelection() = 0;
    // A modal message box with the application title as caption; returns IDOK, IDYES or IDNO.
    virtual int ShowMessageBox(const std::string& text, unsigned style) = 0;
    // Enables or disables a control (1000, 1002, 1003).
    virtual void EnableControl(int id, bool enable) = 0;
    // Sets a control's text (1005, the status label).
    virtual void SetControlText(int id, const std::string& text) = 0;
    // Shows a hidden control (1004, the completion text).
    virtual void ShowControl(int id) = 0;
    // Shows the wait cursor until EndWaitCursor.
    virtual void BeginWaitCursor() = 0;
    // Restores the cursor shown before BeginWaitCursor.
    virtual void EndWaitCursor() = 0;
    // Creates the progress window, on screen and centred over the dialog.
    virtual std::unique_ptr<IProgressWindow> CreateProgressWindow() = 0;
};

// Everything one exchange needs from outside.
struct ExchangeIo {
    IUpdaterView& view;
    IPortOpener& opener;
    IClock& clock;
};

}  // namespace exchange
