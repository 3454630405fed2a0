// Text on Linux: bytes as they are, for the launcher and the programs it
// starts alike.
#include "os/text.h"

#include <cerrno>

namespace os {

std::string to_child_encoding(const std::string& text)
{
    return text;
}

bool path_for_child(std::string&)
{
    // java takes any bytes for a path.
    return true;
}

bool program_can_take_path(const std::string&)
{
    return true;
}

bool write_text(std::FILE* stream, const std::string& text, Failure& failure)
{
    errno = 0;
    const bool written = std::fwrite(text.data(), 1, text.size(), stream) == text.size();
    if (std::fflush(stream) == 0 && written)
        return true;
    failure = Failure("write", errno);
    std::clearerr(stream);
    return false;
}

bool decode_arg(const std::string&, std::u16string&)
{
    return false;
}

}  // namespace os
