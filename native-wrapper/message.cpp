#include "message.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>

#include "os/text.h"

namespace {

std::string vformatted(const char* format, std::va_list args)
{
    std::va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    std::string text(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
    if (length > 0)
        std::vsnprintf(&text[0], text.size() + 1, format, again);
    va_end(again);
    return text;
}

}  // namespace

bool write_message(std::FILE* stream, const std::string& text, os::Failure& failure)
{
    return os::write_text(stream, text, failure);
}

void write_message(std::FILE* stream, const std::string& text)
{
    os::Failure ignored;
    os::write_text(stream, text, ignored);
}

std::string formatted(const char* format, ...)
{
    std::va_list args;
    va_start(args, format);
    std::string text = vformatted(format, args);
    va_end(args);
    return text;
}

void print_out(std::FILE* out, const char* format, ...)
{
    std::va_list args;
    va_start(args, format);
    write_message(out, vformatted(format, args));
    va_end(args);
}

void print_err(std::FILE* err, const char* format, ...)
{
    std::va_list args;
    va_start(args, format);
    write_message(err, vformatted(format, args));
    va_end(args);
}

std::string formatted(const char* format, const std::string& subject)
{
    // Not through the variadic form: a text argument would come back here.
    std::string text(std::strlen(format) + subject.size(), '\0');
    text.resize(static_cast<std::size_t>(std::max(0, std::snprintf(&text[0], text.size() + 1, format, subject.c_str()))));
    return text;
}
