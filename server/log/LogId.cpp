#include "server/log/LogId.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <random>

namespace server::log {

std::string NewId() {
    // A random half keeps processes apart; the counter keeps one process's ids apart.
    static std::atomic<std::uint32_t> counter{0};
    static thread_local std::mt19937 engine{std::random_device{}()};
    char text[17];
    std::snprintf(text, sizeof text, "%08X%08X", static_cast<unsigned>(engine()),
                  static_cast<unsigned>(counter.fetch_add(1)));
    return text;
}

} // namespace server::log
