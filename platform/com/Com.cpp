// Pins the binary layout that loaded servers share with the host.

#include "platform/com/Com.h"

namespace platform::com {

static_assert(sizeof(GUID) == 16, "GUID must keep the platform's binary layout");

} // namespace platform::com
