#include "message.h"

#include <cstdarg>

#include "os/text.h"

void write_message(std::FILE* stream, const std::string& text)
{
    os::write_text(stream, text);
}

void print_message(std::FILE* stream, const char* format, ...)
{
    std::va_list args;
    va_start(args, format);
    std::va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
    if (length > 0)
        std::vsnprintf(&text[0], text.size() + 1, format, again);
    va_end(again);
    write_message(stream, text);
}

void print_unopenable_path(std::FILE* stream, const std::string& path)
{
    print_message(stream,
                  "Error - java cannot open '%s': the path holds characters outside the system's code page, "
                  "and the volume gives it no short name.\n",
                  path.c_str());
}
