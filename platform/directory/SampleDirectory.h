#pragma once

// Deterministic sample directory data (LDIF) for a server folder: mailbox users of this server
// and of another one, with the odd entries that the system has to cope with.

#include <cstdint>
#include <string>
#include <vector>

namespace platform::directory {

struct SampleDirectorySettings {
    std::string forestDnsName = "corp.example.com";
    // NetBIOS names of this server and of another mail server of the organisation.
    std::string computerName = "MAIL01";
    std::string otherServerName = "MAIL02";
    // Ordinary mailbox users homed on this server; a quarter as many (at least one) are homed
    // on the other server.
    std::size_t users = 10;
    std::uint32_t seed = 1;
    // The account for the person running the tools; empty: the current OS user's login name.
    std::string operatorAccount;
    // The userPassword value (a salted hash, never the password) of every mailbox user of this
    // server; empty: they have none and cannot log in.
    std::string userPassword;
};

// What was generated, so that callers can find the entries again.
struct SampleDirectory {
    std::string ldif;
    std::string baseDn;
    // Ordinary enabled users of this server, in generation order (their aliases).
    std::vector<std::string> localAliases;
    // The proxy addresses of the first of them, as stored.
    std::vector<std::string> firstLocalProxyAddresses;
    std::vector<std::string> otherServerAliases;
    // A contact whose mail address begins with localAliases.front() and "@" (another domain).
    std::string contactMail;
    std::string disabledAlias;
    std::string systemMailboxAlias;
    // A mailbox user without a mail address, and one without an alias (found by this mail).
    std::string noMailAlias;
    std::string noAliasMail;
    // A mailbox user whose display name holds " / " and whose surname (sn) holds a quote.
    std::string slashDisplayName;
    std::string slashAlias;
    std::string quotedSurname;
    // A mailbox user with an address whose local part is not ASCII (jörg@forest).
    std::string utf8Alias;
    std::string utf8Address;
    std::string operatorAccount;
    // Entries with a mailbox (msExchMailboxGuid), and those of them homed on this server.
    std::size_t mailboxCount = 0;
    std::size_t localMailboxCount = 0;
};

SampleDirectory GenerateSampleDirectory(const SampleDirectorySettings& settings);

// The value of msExchHomeServerName for a server.
std::string HomeServerValue(const std::string& computerName);

} // namespace platform::directory
