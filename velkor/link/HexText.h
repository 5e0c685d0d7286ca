// Upper-case hexadecimal digits: the byte traces, the CRC32 line and the HEX file's messages.
#pragma once

#include <string>

namespace velkor {

// Appends the lowest `digits` hex digits of value (at most 8), most significant first, with
// leading zeros: AppendHex(text, 0x1F, 4) appends "001F".
void AppendHex(std::string& text, unsigned value, int digits);

}  // namespace velkor
