#pragma once

// Who the program runs as, the way the real platform's user name call reports it.

#include <string>

namespace platform::host {

// The logon name (account name without domain) of the user the program runs as; empty when
// the system cannot tell.
std::string LogonUserName();

// For tests: the logon name the program reports while this object lives.
class ScopedLogonName {
public:
    explicit ScopedLogonName(std::string name);
    ~ScopedLogonName();
    ScopedLogonName(const ScopedLogonName&) = delete;
    ScopedLogonName& operator=(const ScopedLogonName&) = delete;
};

} // namespace platform::host
