// Decodes a SASL PLAIN response and splits it at its two NULs.

#include "server/imap/commands/SaslPlain.h"

#include <boost/beast/core/detail/base64.hpp>

#include <optional>

namespace server::imap {

namespace {

std::optional<std::string> DecodeBase64(std::string_view text) {
    namespace base64 = boost::beast::detail::base64;
    // Whole groups of four only: Beast's decoder sizes its output for those, and writes past
    // decoded_size() for a partial one.
    if (text.size() % 4 != 0)
        return std::nullopt;
    std::string out(base64::decoded_size(text.size()), '\0');
    const auto [written, read] = base64::decode(out.data(), text.data(), text.size());
    for (auto c : text.substr(read))
        if (c != '=')
            return std::nullopt;
    out.resize(written);
    return out;
}

} // namespace

PlainResponse DecodePlainResponse(std::string_view line) {
    PlainResponse response;
    const auto decoded = line == "=" ? std::optional<std::string>("") : DecodeBase64(line);
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

} // namespace server::imap
