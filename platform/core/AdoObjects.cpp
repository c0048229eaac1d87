// The generic ADO objects created by ProgID. They keep ADO's object rules (open/closed state,
// properties that cannot change while open) and leave the data work to the provider session.

#include "platform/core/AdoObjects.h"
#include "platform/core/Error.h"
#include "platform/core/Provider.h"

namespace platform::ado {

namespace {

[[noreturn]] void ThrowClosed(const char* what) {
    throw Error(hr::adErrObjectClosed,
                std::string("Operation is not allowed when the ") + what + " is closed.");
}

[[noreturn]] void ThrowOpen(const char* what) {
    throw Error(hr::adErrObjectOpen,
                std::string("Operation is not allowed when the ") + what + " is open.");
}

Connection& RequireConnection(const std::shared_ptr<Connection>& connection) {
    if (!connection)
        throw Error(hr::E_INVALIDARG, "No active connection was given");
    return *connection;
}

class GenericConnection final : public Connection {
public:
    // The ADO default provider; the system always sets its own.
    GenericConnection() : provider_("MSDASQL") {}
    ~GenericConnection() override {
        try {
            Close();
        } catch (...) {
            // Releasing a connection never fails towards its owner.
        }
    }

    std::string Provider() const override { return provider_; }
    void SetProvider(const std::string& provider) override {
        if (session_)
            ThrowOpen("connection");
        provider_ = provider;
    }
    std::string ConnectionString() const override { return connectionString_; }
    void SetConnectionString(const std::string& connectionString) override {
        if (session_)
            ThrowOpen("connection");
        connectionString_ = connectionString;
    }
    void Open(const std::string& connectionString, const std::string& userName,
              const std::string& password) override {
        if (session_)
            ThrowOpen("connection");
        if (!connectionString.empty())
            connectionString_ = connectionString;
        session_ = OpenProviderSession(provider_, connectionString_, userName, password);
    }
    std::shared_ptr<Recordset> Execute(const std::string& commandText) override {
        return Session().Execute(commandText, CommandProperties());
    }
    void BeginTrans() override { Session().BeginTrans(); }
    void CommitTrans() override { Session().CommitTrans(); }
    void RollbackTrans() override { Session().RollbackTrans(); }
    void Close() override {
        if (!session_)
            return;
        auto session = std::move(session_);
        session->Close();
    }
    ObjectState State() const override { return session_ ? adStateOpen : adStateClosed; }
    ProviderSession& Session() override {
        if (!session_)
            ThrowClosed("connection");
        return *session_;
    }

private:
    std::string provider_;
    std::string connectionString_;
    std::unique_ptr<ProviderSession> session_;
};

class GenericRecord final : public Record {
public:
    void Open(const std::string& source, const std::shared_ptr<Connection>& activeConnection,
              std::int32_t mode, std::int32_t createOptions, std::int32_t options,
              const std::string&, const std::string&) override {
        if (inner_)
            ThrowOpen("record");
        auto& session = RequireConnection(activeConnection).Session();
        inner_ = session.OpenRecord(source, mode, createOptions, options);
        connection_ = activeConnection;
        source_ = source;
    }
    std::shared_ptr<ado::Fields> Fields() override { return Inner().Fields(); }
    void DeleteRecord(const std::string& source, bool) override {
        if (!inner_)
            ThrowClosed("record");
        connection_->Session().DeleteRecord(source.empty() ? source_ : source);
    }
    void Close() override {
        if (!inner_)
            ThrowClosed("record");
        auto inner = std::move(inner_);
        connection_.reset();
        inner->Close();
    }
    ObjectState State() const override { return inner_ ? adStateOpen : adStateClosed; }

private:
    Record& Inner() {
        if (!inner_)
            ThrowClosed("record");
        return *inner_;
    }
    std::shared_ptr<Record> inner_;
    std::shared_ptr<Connection> connection_;
    std::string source_;
};

class GenericRecordset final : public Recordset {
public:
    void Open(const std::string& source, const std::shared_ptr<Connection>& activeConnection,
              std::int32_t, std::int32_t, std::int32_t) override {
        if (inner_)
            ThrowOpen("recordset");
        inner_ = RequireConnection(activeConnection).Execute(source);
    }
    bool Eof() override { return Inner().Eof(); }
    std::shared_ptr<ado::Fields> Fields() override { return Inner().Fields(); }
    void MoveNext() override { Inner().MoveNext(); }
    std::int64_t RecordCount() override { return Inner().RecordCount(); }
    void Close() override {
        if (!inner_)
            ThrowClosed("recordset");
        auto inner = std::move(inner_);
        inner->Close();
    }
    ObjectState State() const override { return inner_ ? adStateOpen : adStateClosed; }

private:
    Recordset& Inner() {
        if (!inner_)
            ThrowClosed("recordset");
        return *inner_;
    }
    std::shared_ptr<Recordset> inner_;
};

class GenericCommand final : public Command {
public:
    void SetActiveConnection(const std::shared_ptr<Connection>& connection) override {
        connection_ = connection;
    }
    void SetCommandText(const std::string& commandText) override { commandText_ = commandText; }
    std::string CommandText() const override { return commandText_; }
    void SetProperty(const std::string& name, const Variant& value) override {
        properties_.Set(name, value);
    }
    Variant Property(const std::string& name) const override { return properties_.Get(name); }
    std::shared_ptr<Recordset> Execute() override {
        return RequireConnection(connection_).Session().Execute(commandText_, properties_);
    }

private:
    std::shared_ptr<Connection> connection_;
    std::string commandText_;
    CommandProperties properties_;
};

} // namespace

std::shared_ptr<Connection> NewConnection() {
    return std::make_shared<GenericConnection>();
}
std::shared_ptr<Record> NewRecord() {
    return std::make_shared<GenericRecord>();
}
std::shared_ptr<Recordset> NewRecordset() {
    return std::make_shared<GenericRecordset>();
}
std::shared_ptr<Command> NewCommand() {
    return std::make_shared<GenericCommand>();
}

} // namespace platform::ado
