#pragma once

// A recipient address this server has no mailbox for, or whose mailbox cannot take mail: a
// permanent refusal (the SMTP front answers 550), unlike a directory or store that cannot be
// asked now.

#include <stdexcept>

namespace server::delivery {

class NoSuchRecipient : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace server::delivery
