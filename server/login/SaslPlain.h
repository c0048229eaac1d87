#pragma once

// The client's response of SASL PLAIN (RFC 4616) as IMAP AUTHENTICATE and SMTP AUTH carry it:
// base64 of authzid NUL authcid NUL password, or "=" for an empty response (RFC 4959, 4954).

#include <string>
#include <string_view>

namespace server::login {

struct PlainResponse {
    enum class Fault { None, NotBase64, NotThreeParts };
    Fault fault = Fault::None;
    std::string authzid; // who to act as; empty for the one who logs in
    std::string authcid; // who logs in
    std::string password;
};

PlainResponse DecodePlainResponse(std::string_view line);

} // namespace server::login
