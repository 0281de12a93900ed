// Text for the tool's JSON output, which must be UTF-8 whatever the package holds:
// member names are bytes in the code page of the machine that made the package, so they
// are decoded from a code page chosen by the caller, a byte that stands for no character
// becoming U+FFFD, and the bytes themselves can be given beside the text.
#pragma once

#include <string>

namespace qm::authoring {

enum class CodePage { Windows1252, Oem437, Oem850, Utf8 };

// "1252" ("cp1252", "windows-1252"), "437" ("cp437"), "850" ("cp850"), "utf-8" ("utf8",
// "65001"), any letter case; false for anything else.
bool code_page_named(const char* name, CodePage* out) noexcept;

// bytes decoded from cp into UTF-8; U+FFFD for each byte without a character (in UTF-8:
// each byte of a sequence that is not well formed).
std::string to_utf8(const std::string& bytes, CodePage cp);

// A JSON string (quotes included) of text already in UTF-8.
std::string json_quoted(const std::string& utf8);

// Two lower-case hex digits a byte.
std::string hex_of(const std::string& bytes);

}  // namespace qm::authoring
