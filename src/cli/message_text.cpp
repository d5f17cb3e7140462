#include "cli/message_text.h"

namespace kestrane {

std::string filled(std::string_view message, std::string_view value) {
    std::string text(message);
    if (std::size_t at = text.find('%'); at != std::string::npos) text.replace(at, 2, value);
    return text;
}

std::string counted(std::string_view message, std::initializer_list<std::size_t> counts) {
    std::string text(message);
    std::size_t at = 0;
    for (std::size_t count : counts) {
        at = text.find("%d", at);
        std::string number = std::to_string(count);
        text.replace(at, 2, number);
        at += number.size();
    }
    return text;
}

}  // namespace kestrane
