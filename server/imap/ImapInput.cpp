// Assembles whole IMAP commands from the client's bytes, literals included, and says when to send
// a continuation and when a line or a literal is over the limit.

#include "server/imap/ImapInput.h"

#include <algorithm>
#include <utility>

namespace server::imap {

std::optional<LiteralMark> FindLiteralMark(std::string_view line) {
    if (line.empty() || line.back() != '}')
        return std::nullopt;
    const auto open = line.rfind('{');
    if (open == std::string_view::npos)
        return std::nullopt;
    auto digits = line.substr(open + 1, line.size() - open - 2);
    LiteralMark mark;
    if (!digits.empty() && digits.back() == '+') {
        mark.synchronising = false;
        digits.remove_suffix(1);
    }
    if (digits.empty())
        return std::nullopt;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return std::nullopt;
        if (mark.size > (std::size_t(1) << 40)) {
            mark.tooLargeToCount = true;
            continue;
        }
        mark.size = mark.size * 10 + static_cast<std::size_t>(c - '0');
    }
    return mark;
}

namespace {

// What the buffer may keep of its room once empty; a larger one (a literal came with its line)
// is given back.
constexpr std::size_t kKeptBuffer = 64 * 1024;

} // namespace

void CommandInput::Append(std::string_view bytes) {
    // The octets of a literal under way go straight into its command: a message of megabytes
    // is not copied through the buffer, nor is the buffer left as large.
    if (literalLeft_ > 0 && buffer_.empty()) {
        const auto take = std::min(literalLeft_, bytes.size());
        command_.append(bytes.substr(0, take));
        literalLeft_ -= take;
        bytes.remove_prefix(take);
    }
    buffer_.append(bytes);
}

void CommandInput::Clear() {
    buffer_.clear();
    command_.clear();
    scanned_ = 0;
    literalLeft_ = 0;
    discarding_ = false;
}

std::optional<InputEvent> CommandInput::Next() {
    for (;;) {
        if (literalLeft_ > 0) {
            const auto take = std::min(literalLeft_, buffer_.size());
            command_.append(buffer_, 0, take);
            buffer_.erase(0, take);
            if (buffer_.empty() && buffer_.capacity() > kKeptBuffer)
                std::string().swap(buffer_);
            literalLeft_ -= take;
            if (literalLeft_ > 0)
                return std::nullopt;
        }
        const auto end = buffer_.find('\n', scanned_);
        if (end == std::string::npos) {
            scanned_ = buffer_.size();
            if (discarding_) {
                buffer_.clear();
                scanned_ = 0;
            } else if (buffer_.size() > limits_.maxLine + 1) {
                // Tell at once, keep nothing more of the line than its start.
                InputEvent event{InputEvent::Kind::LineTooLong,
                                 command_.empty() ? buffer_.substr(0, 64) : command_.substr(0, 64)};
                command_.clear();
                buffer_.clear();
                scanned_ = 0;
                discarding_ = true;
                return event;
            }
            return std::nullopt;
        }
        std::string_view line(buffer_.data(), end);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (discarding_) {
            buffer_.erase(0, end + 1);
            scanned_ = 0;
            discarding_ = false;
            continue;
        }
        if (line.size() > limits_.maxLine) {
            InputEvent event{InputEvent::Kind::LineTooLong, command_.empty()
                                                                ? std::string(line.substr(0, 64))
                                                                : command_.substr(0, 64)};
            command_.clear();
            buffer_.erase(0, end + 1);
            scanned_ = 0;
            return event;
        }
        // Only the line's own text can announce a literal, not the literal before it.
        const auto mark = FindLiteralMark(line);
        command_.append(line);
        buffer_.erase(0, end + 1);
        scanned_ = 0;
        if (!mark)
            return InputEvent{InputEvent::Kind::Command, std::exchange(command_, {})};
        if (mark->tooLargeToCount || mark->size > limits_.maxLiteral ||
            command_.size() + mark->size + 2 > limits_.maxCommand) {
            InputEvent event{mark->synchronising ? InputEvent::Kind::LiteralTooLarge
                                                 : InputEvent::Kind::LiteralTooLargeNow,
                             command_.substr(0, 64)};
            command_.clear();
            return event;
        }
        command_.append("\r\n");
        literalLeft_ = mark->size;
        if (mark->synchronising)
            return InputEvent{InputEvent::Kind::Continue, {}};
    }
}

} // namespace server::imap
