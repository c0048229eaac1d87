#pragma once

// A private Postfix instance for tests and benchmarks: its own configuration, queue, data and
// log under a temporary folder, listening on nothing but loopback, delivering the mail of one
// virtual mailbox domain over LMTP to a port on this host. Postfix's master must start as root.

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace exhost_test {

class PostfixInstance {
public:
    // Postfix's master only starts as root.
    static bool CanRun();
    // The version of the installed Postfix ("3.7.11").
    static std::string Version();

    // Writes the configuration and starts the instance; throws when it does not start. Mail for
    // an address of `virtualAliases` goes to the address it maps to (its domain is served too).
    // With an `smtpPort`, it also takes mail over SMTP on 127.0.0.1 there, as a relay host.
    PostfixInstance(const std::string& domain, unsigned short lmtpPort,
                    const std::map<std::string, std::string>& virtualAliases = {},
                    unsigned short smtpPort = 0);
    // Stops the instance (and its master, by its pid, if it does not go) and removes its folder
    // (kept when LORVANTA_KEEP_FIXTURES is set).
    ~PostfixInstance();
    PostfixInstance(const PostfixInstance&) = delete;
    PostfixInstance& operator=(const PostfixInstance&) = delete;

    // Stops the instance and starts it again. A stopped instance still takes submissions into
    // its queue, which it delivers once started.
    void Stop();
    void Start();

    // Submits a message with this instance's sendmail; throws when sendmail fails. Postfix
    // asks for SMTPUTF8 on its own when the envelope or the headers hold UTF-8.
    void Submit(const std::string& sender, const std::vector<std::string>& recipients,
                const std::string& message) const;
    // Waits until nothing is waiting to be picked up or delivered (deferred mail is done with
    // for now); false when that has not happened within a few minutes.
    bool AwaitQueueDone() const;
    // Messages Postfix put aside to try again later.
    std::size_t Deferred() const;
    std::string Log() const;

    const std::filesystem::path& Folder() const { return folder_; }

private:
    std::size_t QueuedIn(const char* queue) const;

    std::filesystem::path folder_;
    std::filesystem::path config_;
};

} // namespace exhost_test
