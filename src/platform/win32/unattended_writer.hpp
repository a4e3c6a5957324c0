// The unattended output on Windows: the lines go to the standard error handle.
#pragma once

#include <string_view>

namespace vendilox::platform::win32 {

// Writes UnattendedLine(kind, text) and a line feed to the standard error handle with WriteFile,
// byte for byte: no CR is added, as the C runtime's text mode would. A failed write is dropped:
// the run goes on with nobody to tell.
void WriteUnattendedLine(std::string_view kind, std::string_view cp1250Text);

}  // namespace vendilox::platform::win32
