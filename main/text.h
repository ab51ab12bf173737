#pragma once
// Small GBK-safe text helpers of the main program: case folding touches single-byte ASCII
// letters only, never the trail byte of a double-byte character (which may lie in 0x40-0x7E).
#include <string>
#include <string_view>

namespace hv::launcher {

std::string upperAscii(std::string_view gbk);
bool equalsNoCase(std::string_view a, std::string_view b);
// Blanks are what the command line and profile values trim: space, tab, CR and LF.
std::string_view trimBlanks(std::string_view s);

}  // namespace hv::launcher
