#pragma once

// What the tool needs of the system beyond the engine's files.

#include <string>
#include <vector>

namespace platform {

// The command line as UTF-8, whatever the system's code page.
std::vector<std::string> Arguments(int argc, char** argv);

} // namespace platform
