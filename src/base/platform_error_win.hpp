#pragma once

// Descriptions of Windows errors for people, in one form throughout the
// program: the system's message text, a blank, and the code as an HRESULT in
// parentheses, "0x" and eight upper-case hexadecimal digits.

#include <string>

namespace olvex {

// "The system cannot find the file specified. (0x80070002)"; only
// "(0x80070002)" when the system has no text for the code.
[[nodiscard]] std::string describe_win32_error(unsigned long code);

// The same for an HRESULT; one that wraps a Win32 error gets that error's text.
[[nodiscard]] std::string describe_hresult(long hr);

}  // namespace olvex
