// The profile functions' semantics on the text of an INI file.
//
// Pure functions, shared by the Linux settings store and the in-memory store
// of the tests, so that both behave exactly like the Windows profile
// functions (GetPrivateProfileStringA / WritePrivateProfileStringA) on the
// same file text.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tarnwick::ini {

// GetPrivateProfileStringA on `fileText`: section and key matched without
// regard to case (first match wins); the value loses leading and trailing
// blanks and one enclosing pair of matching quotes (' or "), and is cut to
// bufferSize - 1 characters. A missing section or key gives defaultValue,
// cut the same way.
std::string readValue(std::string_view fileText, std::string_view section, std::string_view key,
                      std::string_view defaultValue, std::size_t bufferSize);

// WritePrivateProfileStringA on `fileText`, returning the new text: an
// existing key's line is replaced in place, keeping the key's spelling and
// every other byte of the file; a new key is added after the last line of its
// section; a missing section is added at the end of the file. Line endings
// follow the file's own (CRLF or LF; LF for a new file). When the stored line
// already reads key=value exactly, the text is returned unchanged.
std::string writeValue(std::string_view fileText, std::string_view section, std::string_view key,
                       std::string_view value);

}  // namespace tarnwick::ini
