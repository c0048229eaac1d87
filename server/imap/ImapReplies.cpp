// Status lines whose quoted texts cannot break a line.

#include "server/imap/ImapReplies.h"

namespace server::imap {

namespace {

// Control bytes a response would quote show as "?", so that no text can break a line.
std::string Printable(std::string_view text) {
    std::string out(text.substr(0, 200));
    for (auto& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '?';
    return out;
}

} // namespace

void Output::Append(Output&& later) {
    // A fetch's part is hundreds of kilobytes: taken over, not copied, when nothing precedes it.
    if (bytes.empty())
        bytes = std::move(later.bytes);
    else
        bytes += later.bytes;
    delay += later.delay;
    if (later.close && !close)
        ending = std::move(later.ending);
    close = close || later.close;
    startTls = startTls || later.startTls;
}

Output Answer(std::string bytes) {
    Output output;
    output.bytes = std::move(bytes);
    return output;
}

std::string Tagged(const std::string& tag, std::string_view status, std::string_view text) {
    return tag + " " + std::string(status) + " " + Printable(text) + "\r\n";
}

std::string Bye(std::string_view why) {
    return "* BYE " + Printable(why) + "\r\n";
}

} // namespace server::imap
