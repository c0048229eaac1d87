#pragma once

// What every command shares: the server folder it works on (--root or $EXHOST_ROOT) and the
// failure it reports when the input is wrong.

#include "platform/directory/DirectoryServer.h"
#include "platform/host/ServerFolder.h"

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

namespace CLI {
class App;
}

namespace platform::store {
class Store;
}

namespace exhost {

// Bad input or a state that does not allow the command; main prints it and exits with 1.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The kinds of names an administrator gives (platform/host/NameRules.h has their rules).
enum class NameKind { Computer, Domain, Mailbox };

// Fails with a UsageError when `value` breaks the rule of its kind, naming the option (or
// argument), the value (quoted, a line break shown as \n) and the rule.
void RequireName(NameKind kind, const std::string& option, const std::string& value);

// Adds "--root DIR" to a command; the option's value lands in `root`.
void AddRootOption(CLI::App& command, std::string& root);
// Adds "--root DIR" before the command name ("exhost --root DIR show ..."); a command's own
// --root wins over it.
void AddGlobalRootOption(CLI::App& app);

// The server folder named by the command's --root, else the global one, else $EXHOST_ROOT. Fails
// when neither is given. Also points EXHOST_ROOT at the folder, so that everything the platform
// loads (the store, the sinks it creates, the directory objects) works on the same server folder.
platform::host::ServerFolder ResolveRoot(const std::string& rootOption);

// The same, for a folder that must already hold a server (its machine.conf).
platform::host::ServerFolder OpenServerFolder(const std::string& rootOption);

// The private directory server of a server folder, set up from its machine names.
platform::directory::DirectoryServer DirectoryServerOf(const platform::host::ServerFolder& folder);

std::shared_ptr<platform::store::Store> OpenStore(const platform::host::ServerFolder& folder);

// The whole content of a file; fails naming the file when it cannot be read.
std::string ReadWholeFile(const std::filesystem::path& file);

} // namespace exhost
