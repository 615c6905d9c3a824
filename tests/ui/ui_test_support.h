// Stand-ins for the dialog tests: a virtual clock, scripted ports and message box answers.
#pragma once

#include <QMessageBox>
#include <QString>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "exchange_io.h"
#include "message_box.h"
#include "resource.h"

// The carried version as the dialogs show it: "1.10" for the placeholder's 0x11.
QString CarriedVersion();

// The version digits of a scanner one version older than the carried firmware, to which TEST
// offers the upload without a question ("10" for the placeholder's 0x11). A carried version
// byte below 2 leaves no such scanner; the dialog tests assume 2 or more.
std::string OlderScannerDigits();

// Virtual time: every tick read moves on by one millisecond, every pause by its length.
class FakeClock : public exchange::IClock {
public:
    std::uint32_t GetTickCount() override { return m_now++; }
    void Sleep(std::uint32_t ms) override { m_now += ms; }

private:
    std::uint32_t m_now = 1000;
};

// A port that never receives anything; onCall runs on every call (to inject input).
class SilentPort : public exchange::IPort {
public:
    explicit SilentPort(std::function<void()> onCall) : m_onCall(std::move(onCall)) {}
    int BytesWaiting() override;
    int Read(void* buffer, int count, int limitMs) override;
    int Write(const void* buffer, int count, int limitMs) override;
    void DrainInput() override;

private:
    std::function<void()> m_onCall;
};

// Opens SilentPorts and counts the opens; onPortCall goes to every port it opens.
class CountingOpener : public exchange::IPortOpener {
public:
    std::unique_ptr<exchange::IPort> Open(const std::string& name, int baudRate, char parity,
                                          int dataBits, int stopBits, bool dtr, bool rts) override;
    int opens = 0;
    std::vector<std::string> names;
    std::function<void()> onPortCall;
};

// One message box as the code under test built it.
struct SeenBox {
    QString caption;
    QString text;
    QMessageBox::Icon icon;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton defaultButton;
};

// Answers every message box while it lives: with the queued answers in order, then with the
// fallback; records each box.
class BoxAnswerer {
public:
    explicit BoxAnswerer(int fallback = IDOK);
    ~BoxAnswerer();
    BoxAnswerer(const BoxAnswerer&) = delete;
    BoxAnswerer& operator=(const BoxAnswerer&) = delete;
    // Queues the answer to the next box not yet answered.
    void Queue(int answer) { m_answers.push_back(answer); }
    std::vector<SeenBox> boxes;
    // Runs while each box is "up", before it is answered.
    std::function<void(const SeenBox&)> whileShown;

private:
    std::deque<int> m_answers;
    int m_fallback;
};

// A scanner in upgrade mode behind a port, in virtual time: 'C' on open, the version reply to
// every query, ENQ after the start packet, ACK to every data packet, EOT after the last.
class ScriptedScannerPort : public exchange::IPort {
public:
    ScriptedScannerPort(std::string versionDigits, std::function<void()> onWrite)
        : m_digits(std::move(versionDigits)), m_onWrite(std::move(onWrite)) {
        m_input.push_back('C');
    }
    int BytesWaiting() override { return static_cast<int>(m_input.size()); }
    int Read(void* buffer, int count, int limitMs) override;
    int Write(const void* buffer, int count, int limitMs) override;
    void DrainInput() override { m_input.clear(); }

private:
    std::deque<std::uint8_t> m_input;
    std::string m_digits;
    std::function<void()> m_onWrite;
    std::uint32_t m_announced = 0;
    std::uint32_t m_received = 0;
};

// Opens ScriptedScannerPorts.
class ScriptedScannerOpener : public exchange::IPortOpener {
public:
    std::unique_ptr<exchange::IPort> Open(const std::string&, int, char, int, int, bool,
                                          bool) override {
        ++opens;
        return std::make_unique<ScriptedScannerPort>(versionDigits, onWrite);
    }
    int opens = 0;
    std::string versionDigits = OlderScannerDigits();
    std::function<void()> onWrite;
};
