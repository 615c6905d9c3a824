// The diagnostic log: one appended line per serial port failure.
#pragma once

#include <functional>
#include <string>

// Formats a printf-style message and appends it as one line to "<base name>.log" in the
// working directory. The file is opened and closed on every call; a file that cannot be
// opened drops the line silently. A message longer than 259 characters is cut there. Calls
// from several threads append whole lines, one after the other.
void LogMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The first word of the main window's title (all of it when there is no blank), with every
// character that cannot stand in a file name replaced by '_'.
std::string GetLogBaseName();

// Supplies the main window's current title; the application sets it once the window exists.
using MainWindowTitleSource = std::function<std::string()>;

// Sets (or, with an empty function, clears) where GetLogBaseName takes the title from.
void SetMainWindowTitleSource(MainWindowTitleSource source);

// The application title: the program file's name without its extension.
std::string ApplicationTitle();
