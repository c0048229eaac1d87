#include "tests/unit/sink/ConcurrentDirectory.h"

#include "platform/core/Error.h"
#include "platform/core/Provider.h"
#include "platform/directory/SystemInfo.h"

namespace sinktest {

namespace ado = platform::ado;
using platform::Variant;

namespace {

constexpr const char* kProvider = "ADSDSOObject";
using Mailboxes = std::map<std::string, std::vector<std::string>>;

class OneField : public ado::Fields {
public:
    explicit OneField(Variant value) : value_(std::move(value)) {}
    std::int32_t Count() const override { return 1; }
    std::shared_ptr<ado::Field> Item(const std::string&) override { return Item(0); }
    std::shared_ptr<ado::Field> Item(std::int32_t) override {
        class Field : public ado::Field {
        public:
            explicit Field(Variant value) : value_(std::move(value)) {}
            std::string Name() const override { return "proxyAddresses"; }
            Variant Value() const override { return value_; }
            void SetValue(const Variant&) override {
                throw platform::Error(platform::hr::adErrFeatureNotAvailable, "read-only");
            }

        private:
            Variant value_;
        };
        return std::make_shared<Field>(value_);
    }
    void Append(const std::string&, const Variant&) override {}
    void Update() override {}

private:
    Variant value_;
};

// Zero or one row: the addresses of one mailbox.
class Rows : public ado::Recordset {
public:
    Rows(std::shared_ptr<const Mailboxes> mailboxes, const std::vector<std::string>* addresses)
        : mailboxes_(std::move(mailboxes)), addresses_(addresses) {}
    void Open(const std::string&, const std::shared_ptr<ado::Connection>&, std::int32_t,
              std::int32_t, std::int32_t) override {}
    bool Eof() override { return !addresses_ || done_; }
    std::shared_ptr<ado::Fields> Fields() override {
        return std::make_shared<OneField>(Variant(Variant::TextArray(*addresses_)));
    }
    void MoveNext() override { done_ = true; }
    std::int64_t RecordCount() override { return addresses_ ? 1 : 0; }
    void Close() override {}
    ado::ObjectState State() const override { return ado::adStateOpen; }

private:
    std::shared_ptr<const Mailboxes> mailboxes_; // keeps `addresses_` alive
    const std::vector<std::string>* addresses_;
    bool done_ = false;
};

class Session : public ado::ProviderSession {
public:
    Session(std::shared_ptr<const Mailboxes> mailboxes, std::shared_ptr<std::atomic<int>> queries)
        : mailboxes_(std::move(mailboxes)), queries_(std::move(queries)) {}
    std::shared_ptr<ado::Recordset> Execute(const std::string& commandText,
                                            const ado::CommandProperties&) override {
        ++*queries_;
        // The owner query filters on "(mail=<mailbox>@*)".
        const std::string marker = "(mail=";
        const auto start = commandText.find(marker);
        const auto end = commandText.find("@*", start);
        const std::vector<std::string>* addresses = nullptr;
        if (start != std::string::npos && end != std::string::npos) {
            const auto found = mailboxes_->find(
                commandText.substr(start + marker.size(), end - start - marker.size()));
            if (found != mailboxes_->end())
                addresses = &found->second;
        }
        return std::make_shared<Rows>(mailboxes_, addresses);
    }

private:
    std::shared_ptr<const Mailboxes> mailboxes_;
    std::shared_ptr<std::atomic<int>> queries_;
};

class SystemInfo : public platform::directory::ADSystemInfo {
public:
    std::string ForestDNSName() override { return "corp.example.com"; }
    std::string DomainDNSName() override { return "corp.example.com"; }
};

} // namespace

ConcurrentDirectory::ConcurrentDirectory(Mailboxes mailboxes)
    : mailboxes_(std::make_shared<const Mailboxes>(std::move(mailboxes))),
      systemInfo_("ADSystemInfo", [] { return std::make_shared<SystemInfo>(); }) {
    ado::RegisterProvider(kProvider,
                          [mailboxes = mailboxes_, queries = queries_](
                              const std::string&, const std::string&, const std::string&) {
                              return std::make_unique<Session>(mailboxes, queries);
                          });
}

ConcurrentDirectory::~ConcurrentDirectory() {
    ado::UnregisterProvider(kProvider);
}

} // namespace sinktest
