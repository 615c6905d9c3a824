// Counts what crosses the ports of an exchange, for --json and the benchmark: bytes each way,
// data packets written and those written again after a NAK.
#pragma once

#include <memory>

#include "command_report.h"
#include "exchange_io.h"

// Opens through another opener; the ports it hands out count into the counts set last.
class CountingOpener final : public exchange::IPortOpener {
public:
    explicit CountingOpener(exchange::IPortOpener& inner) : m_inner(inner) {}
    std::unique_ptr<exchange::IPort> Open(const std::string& name, int baudRate, char parity,
                                          int dataBits, int stopBits, bool dtr, bool rts) override;
    // Where the ports opened from now on count; nothing is counted without it.
    void CountInto(LinkCounts* counts) { m_counts = counts; }

private:
    exchange::IPortOpener& m_inner;
    LinkCounts* m_counts = nullptr;
};
