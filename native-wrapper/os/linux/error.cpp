// Error texts on Linux.
#include "os/error.h"

#include <cstring>

namespace os {

std::string error_text(int error, const std::string&)
{
    const char* text = std::strerror(error);
    return text != nullptr ? text : "error " + std::to_string(error);
}

}  // namespace os
