// Segment names are single-byte Windows-1251 text (the recordings are Russian).
#pragma once

#include <string>
#include <string_view>

// Windows-1251 bytes to UTF-8. The one unassigned byte (0x98) becomes U+FFFD.
std::string Cp1251ToUtf8(std::string_view bytes);

// UTF-8 to Windows-1251. Characters the code page lacks, and malformed UTF-8, become '?'.
std::string Utf8ToCp1251(std::string_view text);
