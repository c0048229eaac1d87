// Decodes a SASL PLAIN response and splits it at its two NULs.

#include "server/login/SaslPlain.h"

#include "platform/core/Base64.h"

#include <optional>

namespace server::login {

PlainResponse DecodePlainResponse(std::string_view line) {
    PlainResponse response;
    const auto decoded =
        line == "=" ? std::optional<std::string>("") : platform::text::DecodeBase64(line);
    if (!decoded) {
        response.fault = PlainResponse::Fault::NotBase64;
        return response;
    }
    const auto first = decoded->find('\0');
    const auto second = first == std::string::npos ? first : decoded->find('\0', first + 1);
    if (second == std::string::npos || decoded->find('\0', second + 1) != std::string::npos) {
        response.fault = PlainResponse::Fault::NotThreeParts;
        return response;
    }
    response.authzid = decoded->substr(0, first);
    response.authcid = decoded->substr(first + 1, second - first - 1);
    response.password = decoded->substr(second + 1);
    return response;
}

} // namespace server::login
