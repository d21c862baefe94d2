#pragma once
// Opening a file, folder, document or URL as the desktop shell's "open" does. An executable file
// is started directly with its parameters and working folder, never through a shell, so no text
// of the caller becomes shell syntax.
#include <string>

namespace pek {

struct ShellRequest {
    std::string file;        // CP932
    std::string parameters;  // CP932; split into arguments as a command line (quotes group words)
    std::string folder;      // CP932; empty: the program's current folder
};

// False when nothing could be opened or started.
bool ShellOpen(const ShellRequest& request);

}  // namespace pek
