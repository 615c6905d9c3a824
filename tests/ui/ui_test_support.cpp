#include "ui_test_support.h"

#include <QPushButton>

#include "firmware_payload.h"
#include "resource.h"

QString CarriedVersion() {
    return QString::fromStdString(VersionText(g_carriedFirmware.VersionByte()));
}

std::string OlderScannerDigits() {
    const int older = g_carriedFirmware.VersionByte() - 1;
    return QStringLiteral("%1").arg(older, 2, 16, QChar('0')).toUpper().toStdString();
}

int SilentPort::BytesWaiting() {
    if (m_onCall) {
        m_onCall();
    }
    return 0;
}

int SilentPort::Read(void*, int, int) {
    if (m_onCall) {
        m_onCall();
    }
    return 0;
}

int SilentPort::Write(const void*, int count, int) {
    if (m_onCall) {
        m_onCall();
    }
    return count;
}

void SilentPort::DrainInput() {
    if (m_onCall) {
        m_onCall();
    }
}

std::unique_ptr<exchange::IPort> CountingOpener::Open(const std::string& name, int, char, int, int,
                                                      bool, bool) {
    ++opens;
    names.push_back(name);
    return std::make_unique<SilentPort>(onPortCall);
}

BoxAnswerer::BoxAnswerer(int fallback) : m_fallback(fallback) {
    SetMessageBoxHook([this](QMessageBox& box) {
        SeenBox seen{box.windowTitle(), box.text(), box.icon(), box.standardButtons(),
                     box.standardButton(box.defaultButton())};
        boxes.push_back(seen);
        if (whileShown) {
            whileShown(seen);
        }
        if (m_answers.empty()) {
            return m_fallback;
        }
        const int answer = m_answers.front();
        m_answers.pop_front();
        return answer;
    });
}

BoxAnswerer::~BoxAnswerer() {
    SetMessageBoxHook({});
}

int ScriptedScannerPort::Read(void* buffer, int count, int) {
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    int done = 0;
    while (done < count && !m_input.empty()) {
        bytes[done++] = m_input.front();
        m_input.pop_front();
    }
    return done;
}

int ScriptedScannerPort::Write(const void* buffer, int count, int) {
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    if (m_onWrite) {
        m_onWrite();
    }
    if (count == 4 && bytes[0] == 0x02 && bytes[1] == 'V') {
        const std::uint8_t reply[] = {0x52, 0x35, static_cast<std::uint8_t>(m_digits[0]),
                                      static_cast<std::uint8_t>(m_digits[1]), 0x03};
        std::uint8_t sum = 0;
        for (const std::uint8_t b : reply) {
            sum = static_cast<std::uint8_t>(sum + b);
        }
        m_input.push_back(0x02);
        m_input.insert(m_input.end(), std::begin(reply), std::end(reply));
        m_input.push_back(sum);
    } else if (count == 10 && bytes[0] == 0x02 && bytes[1] == 0xFA) {
        m_announced = static_cast<std::uint32_t>(
            std::stoul(std::string(reinterpret_cast<const char*>(bytes + 2), 6), nullptr, 16));
        m_input.push_back(0x05);
    } else if (count > 3 && bytes[0] == 0x02) {
        m_received += static_cast<std::uint32_t>(count - 3) / 2;
        m_input.push_back(0x06);
        if (m_received >= m_announced) {
            m_input.push_back(0x04);
        }
    }
    return count;
}
