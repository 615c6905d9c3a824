// Text from the system as Windows' ...A calls give it: in the ANSI code page, not UTF-8.
#pragma once

#include <string>
#include <string_view>

// PrintableText on the characters of text in the ANSI code page, given back in that code
// page: control characters are written as \xHH (the bytes of their UTF-8 form) while letters
// beyond ASCII (an accented device name) stay as they are. Text that is not valid in the code
// page is escaped byte by byte where it is not UTF-8.
std::string PrintableAnsiText(std::string_view text);
