// What the console program needs of the platform besides the port and the clock: whether the
// standard streams are terminals, a line typed on the terminal, and device paths as ports.
// One backend file per platform.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "port_argument.h"

class ConsoleInterrupts;

// The three standard streams.
enum class StandardStream { kInput, kOutput, kError };

// Whether the stream is a terminal (a console window on Windows).
bool IsTerminal(StandardStream stream);

// Puts the standard streams in the state the program writes them in: on Windows binary, so
// that a line ends in a line feed alone there too.
void PrepareStandardStreams();

// How reading one typed line ended.
enum class LineRead {
    kLine,         // a line (its line break taken off)
    kEnd,          // end of input, or the input cannot be read
    kInterrupted,  // Ctrl+C (or an end request) came while waiting
};

// A line typed at the terminal.
class ITerminalInput {
public:
    virtual ~ITerminalInput() = default;
    // Waits for one line of standard input.
    virtual LineRead ReadLine(std::string& line) = 0;
};

// Standard input, read line by line; Ctrl+C ends a wait as interrupts see it.
std::unique_ptr<ITerminalInput> CreateStandardInput(ConsoleInterrupts& interrupts);

// text as a device path, where the platform takes device paths as ports (Linux: any text with a
// '/'); none otherwise. Its COM number is the one that leads to the same device, 0 when none.
std::optional<PortArgument> DevicePathArgument(const std::string& text);

// Whether --port takes device paths here.
bool DevicePathsAccepted();
