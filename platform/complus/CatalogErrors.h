#pragma once

// Failure numbers of the COM+ catalog, with the values the real platform documents for them.

#include "platform/core/Error.h"

namespace platform::hr {

constexpr std::int32_t COMADMIN_E_OBJECT_DOES_NOT_EXIST = Code(0x80110809);
constexpr std::int32_t COMADMIN_E_AMBIGUOUS_APPLICATION_NAME = Code(0x8011082A);
constexpr std::int32_t COMADMIN_E_APP_FILE_WRITEFAIL = Code(0x80110407);
constexpr std::int32_t COMADMIN_E_APP_FILE_READFAIL = Code(0x80110408);
constexpr std::int32_t COMADMIN_E_DLLREGISTERSERVER = Code(0x8011041A);
constexpr std::int32_t COMADMIN_E_COMPFILE_DOESNOTEXIST = Code(0x80110424);
constexpr std::int32_t COMADMIN_E_COMPFILE_LOADDLLFAIL = Code(0x80110425);
constexpr std::int32_t COMADMIN_E_COMPFILE_NOTINSTALLABLE = Code(0x80110429);
constexpr std::int32_t COMADMIN_E_COMPFILE_NOREGISTRAR = Code(0x80110434);

} // namespace platform::hr
