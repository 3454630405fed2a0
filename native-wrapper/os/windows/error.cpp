// Error texts on Windows.
#include "os/error.h"

#include <windows.h>

namespace os {

std::string error_text(int error, const std::string& subject)
{
    char* text = nullptr;
    DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                      FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, static_cast<DWORD>(error), 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = text != nullptr ? std::string(text, length) : std::string();
    LocalFree(text);
    // The system's texts end in a line break.
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
        message.pop_back();
    // Some name the file they are about by an insert ("%1 is not a valid
    // Win32 application."): it gets the subject, or says only "the file"
    // (the line before names it). Filled here, not by FormatMessage, which
    // would read arguments that a text with more inserts does not have.
    for (std::size_t at = message.find('%'); at != std::string::npos; at = message.find('%', at + 1)) {
        std::size_t end = at + 1;
        while (end < message.size() && message[end] >= '0' && message[end] <= '9')
            ++end;
        if (end == at + 1)
            continue;
        if (end < message.size() && message[end] == '!') {  // a format such as "%1!s!"
            const std::size_t close = message.find('!', end + 1);
            end = close == std::string::npos ? message.size() : close + 1;
        }
        const std::string filler = !subject.empty() ? subject : at == 0 ? "The file" : "the file";
        message.replace(at, end - at, filler);
        at += filler.size() - 1;
    }
    return message.empty() ? "error " + std::to_string(error) : message;
}

}  // namespace os
