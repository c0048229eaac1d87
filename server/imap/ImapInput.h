#pragma once

// Cuts the bytes a client sends into whole IMAP commands. A command is a line that may announce
// literals: a line ending in "{n}" (synchronising: the client waits for a "+" continuation) or
// "{n+}" (non-synchronising, LITERAL+) is followed by exactly n octets and then the rest of the
// command. Lines end with CRLF or a bare LF.
//
// Limits are checked before anything is kept: a line longer than maxLine is dropped up to its
// end without being held in memory, and a literal larger than maxLiteral (or one that would make
// the command larger than maxCommand) is refused before a single octet of it is read.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace server::imap {

struct InputLimits {
    std::size_t maxLine = 64 * 1024;      // one line of a command, without its line end
    std::size_t maxLiteral = 64 * 1024;   // octets of one literal
    std::size_t maxCommand = 1024 * 1024; // a whole command, its literals included
};

struct InputEvent {
    enum class Kind {
        Command,            // `text`: the whole command, literals inline, without the last line end
        Continue,           // a synchronising literal was announced: send "+ ..." now
        LineTooLong,        // `text`: the start of the line (to find the tag); the rest is dropped
        LiteralTooLarge,    // a synchronising literal over the limit: its command is dropped
        LiteralTooLargeNow, // a non-synchronising one: its octets are coming anyway
    };
    Kind kind = Kind::Command;
    std::string text;
};

class CommandInput {
public:
    explicit CommandInput(InputLimits limits = {}) : limits_(limits) {}

    void Append(std::string_view bytes);
    // The next event the bytes received so far make complete, if any.
    std::optional<InputEvent> Next();
    // After Next() found nothing: how many more octets must come before it can find anything
    // (what is left of a literal, then at least a line end).
    std::size_t OctetsAwaited() const { return literalLeft_ + 1; }
    // Forgets everything received (after the session ends).
    void Clear();
    const InputLimits& Limits() const { return limits_; }
    // Limits for what is read from now on (the session's state changed).
    void SetLimits(const InputLimits& limits) { limits_ = limits; }

private:
    InputLimits limits_;
    std::string buffer_;      // received, not yet taken
    std::size_t scanned_ = 0; // bytes of buffer_ known to hold no LF
    std::string command_;     // the command being put together
    std::size_t literalLeft_ = 0;
    bool discarding_ = false; // dropping a line that outgrew maxLine, up to its end
};

// The literal a command line announces at its end: its size and whether it is synchronising.
// Nothing when the line does not end in "{digits}" or "{digits+}".
struct LiteralMark {
    std::size_t size = 0;
    bool synchronising = true;
    bool tooLargeToCount = false; // more digits than any size we could hold
};
std::optional<LiteralMark> FindLiteralMark(std::string_view line);

} // namespace server::imap
