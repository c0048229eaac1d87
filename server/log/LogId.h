#pragma once

#include <string>

namespace server::log {

// A new id: 16 hexadecimal digits, different for every call in this process and, with
// overwhelming likelihood, from those of other processes. It names a delivery, a session or a
// failure both in the log and in what the client is told, so the operator can find the line a
// client quotes.
std::string NewId();

} // namespace server::log
