// Lengthens a message's body with lines of text.

#include "testsupport/PaddedMessage.h"

namespace testsupport {

std::string PaddedMessage(std::string message, std::size_t size) {
    const std::string line = std::string(76, 'x') + "\r\n";
    while (message.size() + line.size() <= size)
        message += line;
    return message;
}

} // namespace testsupport
