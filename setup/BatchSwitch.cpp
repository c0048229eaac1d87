// Reads the command line the way the setup program always has: one argument text, and the batch
// switch recognised by its first two characters.

#include "setup/BatchSwitch.h"

#include "platform/core/Text.h"

namespace lorvanta::setup {

std::string ArgumentText(const std::vector<std::string>& arguments) {
    std::string text;
    for (const auto& argument : arguments) {
        if (!text.empty())
            text += ' ';
        text += argument;
    }
    return text;
}

bool IsBatchSwitch(const std::string& argumentText) {
    const auto text = platform::text::TrimBlanks(argumentText);
    if (text.size() <= 1)
        return false;
    const auto start = text.substr(0, 2);
    return platform::text::EqualsIgnoreCase(start, "-b") ||
           platform::text::EqualsIgnoreCase(start, "/b");
}

} // namespace lorvanta::setup
