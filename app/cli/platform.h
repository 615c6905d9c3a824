// What the console program needs of the platform besides the port and the clock: Ctrl+C's
// handlers (interrupts.h), whether the standard streams are terminals, a line typed on the
// terminal, and device paths as ports. One file per platform.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "interrupts.h"

struct PortArgument;

// The three standard streams.
enum class StandardStream { kInput, kOutput, kError };

// Whether the stream is a terminal (a console window on Windows).
bool IsTerminal(StandardStream stream);

// Makes sure the standard streams exist, first thing: on Linux each of descriptors 0 to 2
// found closed is opened on /dev/null, so that no port opened later takes its number and gets
// the program's text written down the line. Then puts them in the state the program writes
// them in: on Windows binary, so that a line ends in a line feed alone there too.
void PrepareStandardStreams();

// Lets standard error, where it is a terminal, take the cursor movement of several ports' rows
// redrawn in place; whether it does. EndCursorMovement gives back what was there before.
bool BeginCursorMovement();
void EndCursorMovement();

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

// Whether two device paths given as ports name one device (through a link, say).
bool SamePortDevice(const std::string& a, const std::string& b);
