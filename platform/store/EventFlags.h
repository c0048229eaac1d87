#pragma once

// Bits of the lFlags argument of the store's synchronous events.

#include <cstdint>

namespace platform::store {

constexpr std::int32_t EVT_NEW_ITEM = 0x00000001;
constexpr std::int32_t EVT_IS_COLLECTION = 0x00000002;
constexpr std::int32_t EVT_IS_DELIVERED = 0x00000008;
constexpr std::int32_t EVT_SOFTDELETE = 0x00000010;
// Every delete of this store is a hard one: nothing goes to a deleted-items folder first.
constexpr std::int32_t EVT_HARDDELETE = 0x00000020;
constexpr std::int32_t EVT_SYNC_BEGIN = 0x01000000;
constexpr std::int32_t EVT_SYNC_COMMITTED = 0x02000000;
constexpr std::int32_t EVT_SYNC_ABORTED = 0x04000000;

} // namespace platform::store
