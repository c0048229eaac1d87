#pragma once

// The generic ADO objects, which the platform's registration table makes creatable by ProgID
// ("ADODB.Connection" and the others). They leave the data work to the provider session.

#include "platform/core/Ado.h"

#include <memory>

namespace platform::ado {

std::shared_ptr<Connection> NewConnection();
std::shared_ptr<Record> NewRecord();
std::shared_ptr<Recordset> NewRecordset();
std::shared_ptr<Command> NewCommand();

} // namespace platform::ado
