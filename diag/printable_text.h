// Text that comes from the system (process names, paths, lock file contents, device names)
// made safe to show: on a terminal, in the log, in a tooltip or a message box.
#pragma once

#include <string>
#include <string_view>

// The text with every byte that could act instead of being shown written as \xHH: control
// bytes (C0, DEL), and in UTF-8 the C1 controls, the line and paragraph separators and the
// bidirectional overrides, which reorder what follows; bytes that are not valid UTF-8 too.
// Printable ASCII and other valid UTF-8 stay as they are, so a name in any script still reads.
std::string PrintableText(std::string_view text);
