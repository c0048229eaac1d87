#pragma once

// The folders every mailbox has for what mail clients keep apart (RFC 6154's special uses):
// Sent, Drafts, Trash, Junk and Archive, directly below the mailbox root. A folder of one of
// these names there (in any letter case) serves that use; renamed, it is an ordinary folder.

#include <string>
#include <string_view>

namespace platform::store {
class Store;
}

namespace server::mailstore {

struct SpecialFolder {
    const char* name;
    const char* use; // the LIST attribute
};
inline constexpr SpecialFolder kSpecialFolders[] = {{"Sent", "\\Sent"},
                                                    {"Drafts", "\\Drafts"},
                                                    {"Trash", "\\Trash"},
                                                    {"Junk", "\\Junk"},
                                                    {"Archive", "\\Archive"}};

// The use of the folder at that path below the mailbox root; empty for an ordinary folder.
std::string SpecialUseOf(std::string_view path);

// Makes the special-use folders the mailbox (its root's URL) lacks, once in its life: an owner
// who deletes one does not get it back. Mailboxes made before the server had them get them at
// their owner's next login. The owner is subscribed to every folder there is then (before,
// every folder counted as subscribed).
void MakeSpecialFolders(platform::store::Store& store, const std::string& mailboxUrl);

} // namespace server::mailstore
