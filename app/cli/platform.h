// What the console program needs of the platform besides the port and the clock: the standard
// streams and the terminal, and device paths as ports; with Ctrl+C's handlers (interrupts.h),
// one file per platform.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "interrupts.h"

struct PortArgument;

enum class StandardStream { kInput, kOutput, kError };

// Whether the stream is a terminal (a console window on Windows).
bool IsTerminal(StandardStream stream);

// First thing: on Linux each of descriptors 0 to 2 found closed is opened on /dev/null, so that
// no port opened later takes its number and gets the program's text written down the line. On
// Windows standard output and error become binary, so that a line ends in a line feed alone.
void PrepareStandardStreams();

// Lets standard error, where it is a terminal, take the cursor movement of several ports' rows
// redrawn in place; whether it does. EndCursorMovement gives back what was there before.
bool BeginCursorMovement();
void EndCursorMovement();

enum class LineRead {
    kLine,         // a line, its line break taken off; of ReadStandardInputByte: a byte
    kEnd,          // the end of input, or input that cannot be read
    kInterrupted,  // Ctrl+C (or an end request) came while waiting
};

// A line typed at the terminal.
class ITerminalInput {
public:
    virtual ~ITerminalInput() = default;
    virtual LineRead ReadLine(std::string& line) = 0;
};

// Standard input, read line by line; Ctrl+C ends a wait as interrupts see it.
std::unique_ptr<ITerminalInput> CreateStandardInput(ConsoleInterrupts& interrupts);
// One byte of standard input, into c.
LineRead ReadStandardInputByte(char& c, ConsoleInterrupts& interrupts);

// text as --port's device path, where the platform takes them (Linux: any text with a '/');
// its COM number is the one that leads to the same device, 0 when none does.
std::optional<PortArgument> DevicePathArgument(const std::string& text);
bool DevicePathsAccepted();
// Whether two device paths name one device (through a link, say).
bool SamePortDevice(const std::string& a, const std::string& b);
