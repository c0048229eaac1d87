#pragma once

// Runs the built exhost binary, or any program, as a script would; and keeps a server folder
// that exhost initialised from known sample settings.

#include "testsupport/ScopedServerFolder.h"

#include "platform/directory/SampleDirectory.h"

#include <atomic>
#include <filesystem>
#include <string>
#include <vector>

namespace exhost_test {

struct RunResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs exhost with the arguments. EXHOST_ROOT is removed from its environment unless
// `rootVariable` is given, so that every test says which folder it means.
// `input` becomes its standard input.
RunResult RunExhost(const std::vector<std::string>& arguments, const std::string& rootVariable = {},
                    const std::string& input = {});

// Runs any program (the full path first, then its arguments) the same way.
RunResult RunProgram(const std::vector<std::string>& command, const std::string& input = {},
                     const std::string& rootVariable = {});

// Lines of a text without their line ends; no empty last entry.
std::vector<std::string> Lines(const std::string& text);

// A server folder made by "exhost init" from `settings` (its forest is the mail domain), with
// the sample directory generated again from the same settings so that a test knows the users.
// The directory server is started unless the test starts it itself.
class SampleServer {
public:
    explicit SampleServer(const platform::directory::SampleDirectorySettings& settings,
                          bool startDirectory = true);

    // Runs exhost on this folder; a failure is kept in Problem().
    RunResult Run(std::vector<std::string> arguments);
    const std::string& Problem() const { return problem_; }

    std::string MailboxUrl(const std::string& alias) const;
    std::string InboxUrl(const std::string& alias) const { return MailboxUrl(alias) + "/Inbox"; }
    std::string Address(std::size_t user) const;

    // Registers the sink's DLL (the first time) and "Lorvanta.reg" on the Inbox of `alias`.
    void RegisterSink(const std::string& dll, const std::string& alias);
    // Writes `message` to a file of the folder and delivers it with "exhost deliver" and the
    // extra arguments; safe on several threads at once.
    RunResult Deliver(const std::vector<std::string>& recipients, const std::string& message,
                      const std::vector<std::string>& extra = {});

    testsupport::ScopedServerFolder folder;
    platform::directory::SampleDirectory sample;

private:
    std::string domain_;
    std::string problem_;
    bool sinkRegistered_ = false;
    std::atomic<int> messages_ = 0;
};

} // namespace exhost_test
