#pragma once

// The ADO-style object model through which the system reaches both the store (provider
// "ExOLEDB.DataSource") and the directory (provider "ADSDSOObject"). The generic objects
// "ADODB.Connection", "ADODB.Record", "ADODB.Recordset" and "ADODB.Command" live here and hand
// the real work to the provider that the connection names (see Provider.h).

#include "platform/core/ObjectFactory.h"
#include "platform/core/Variant.h"

#include <cstdint>
#include <memory>
#include <string>

namespace platform::ado {

class Connection;

enum ObjectState : std::int32_t { adStateClosed = 0, adStateOpen = 1 };

// Values of the arguments of Record.Open that the system uses.
enum ConnectMode : std::int32_t { adModeRead = 1, adModeReadWrite = 3 };
enum RecordCreateOptions : std::int32_t {
    adFailIfNotExists = -1,
    adCreateNonCollection = 0x4000000,
};
enum RecordOpenOptions : std::int32_t { adOpenRecordUnspecified = -1, adDelayFetchFields = 0x8000 };

class Field {
public:
    virtual ~Field() = default;
    virtual std::string Name() const = 0;
    virtual Variant Value() const = 0;
    virtual void SetValue(const Variant& value) = 0;
};

class Fields {
public:
    virtual ~Fields() = default;
    virtual std::int32_t Count() const = 0;
    // By name; how a name the item does not carry is treated is the provider's choice.
    virtual std::shared_ptr<Field> Item(const std::string& name) = 0;
    // By position, 0-based; out of range fails with adErrItemNotFound.
    virtual std::shared_ptr<Field> Item(std::int32_t index) = 0;
    virtual void Append(const std::string& name, const Variant& value) = 0;
    // Commits the written values into the item.
    virtual void Update() = 0;
};

class Record : public Object {
public:
    std::string TypeName() const override { return "Record"; }
    virtual void Open(const std::string& source,
                      const std::shared_ptr<Connection>& activeConnection, std::int32_t mode,
                      std::int32_t createOptions, std::int32_t options, const std::string& userName,
                      const std::string& password) = 0;
    virtual std::shared_ptr<ado::Fields> Fields() = 0;
    // Deletes the item at `source` (the record's own item when empty).
    virtual void DeleteRecord(const std::string& source, bool async) = 0;
    virtual void Close() = 0;
    virtual ObjectState State() const = 0;
};

class Recordset : public Object {
public:
    std::string TypeName() const override { return "Recordset"; }
    virtual void Open(const std::string& source,
                      const std::shared_ptr<Connection>& activeConnection, std::int32_t cursorType,
                      std::int32_t lockType, std::int32_t options) = 0;
    // True when there is no current row (named so because EOF is a C macro).
    virtual bool Eof() = 0;
    virtual std::shared_ptr<ado::Fields> Fields() = 0;
    virtual void MoveNext() = 0;
    // Number of rows, or -1 where the provider cannot tell.
    virtual std::int64_t RecordCount() = 0;
    virtual void Close() = 0;
    virtual ObjectState State() const = 0;
};

class ProviderSession;

class Connection : public Object {
public:
    std::string TypeName() const override { return "Connection"; }
    virtual std::string Provider() const = 0;
    virtual void SetProvider(const std::string& provider) = 0;
    virtual std::string ConnectionString() const = 0;
    // Fails with adErrObjectOpen while the connection is open.
    virtual void SetConnectionString(const std::string& connectionString) = 0;
    // An empty `connectionString` opens with the one set before.
    virtual void Open(const std::string& connectionString, const std::string& userName,
                      const std::string& password) = 0;
    virtual std::shared_ptr<Recordset> Execute(const std::string& commandText) = 0;
    virtual void BeginTrans() = 0;
    virtual void CommitTrans() = 0;
    virtual void RollbackTrans() = 0;
    virtual void Close() = 0;
    virtual ObjectState State() const = 0;
    // The provider's side of the open connection; fails with adErrObjectClosed when closed.
    virtual ProviderSession& Session() = 0;
};

class Command : public Object {
public:
    std::string TypeName() const override { return "Command"; }
    virtual void SetActiveConnection(const std::shared_ptr<Connection>& connection) = 0;
    virtual void SetCommandText(const std::string& commandText) = 0;
    virtual std::string CommandText() const = 0;
    // Provider-specific properties such as "Page Size"; names ignore letter case.
    virtual void SetProperty(const std::string& name, const Variant& value) = 0;
    virtual Variant Property(const std::string& name) const = 0;
    virtual std::shared_ptr<Recordset> Execute() = 0;
};

} // namespace platform::ado
