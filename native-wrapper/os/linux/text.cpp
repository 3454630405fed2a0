// Text on Linux: bytes as they are, for the launcher and the programs it
// starts alike.
#include "os/text.h"

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

void write_text(std::FILE* stream, const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

bool decode_arg(const std::string&, std::u16string&)
{
    return false;
}

}  // namespace os
