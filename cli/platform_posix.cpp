#include "platform.h"

namespace platform {

std::vector<std::string> Arguments(int argc, char** argv) {
    return {argv, argv + argc};
}

} // namespace platform
