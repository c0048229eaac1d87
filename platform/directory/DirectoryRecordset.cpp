// A directory search read as a record set: pages fetched as the caller moves forward, or every row
// at once when the caller wants them counted or sorted.

#include "platform/directory/DirectoryRecordset.h"

#include "platform/core/Yield.h"

#include "platform/core/Error.h"
#include "platform/core/Text.h"

#include <unicode/unistr.h>

#include <algorithm>

namespace platform::directory {

namespace {

[[noreturn]] void ThrowReadOnly() {
    throw Error(hr::adErrFeatureNotAvailable, "Directory rows cannot be changed");
}

class RowField final : public ado::Field {
public:
    RowField(std::string name, Variant value) : name_(std::move(name)), value_(std::move(value)) {}
    std::string Name() const override { return name_; }
    Variant Value() const override { return value_; }
    void SetValue(const Variant&) override { ThrowReadOnly(); }

private:
    std::string name_;
    Variant value_;
};

class RowFields final : public ado::Fields {
public:
    RowFields(std::shared_ptr<const std::vector<std::string>> names, Row row)
        : names_(std::move(names)), row_(std::move(row)) {}
    std::int32_t Count() const override { return static_cast<std::int32_t>(names_->size()); }
    std::shared_ptr<ado::Field> Item(const std::string& name) override {
        for (std::size_t i = 0; i < names_->size(); ++i)
            if (text::EqualsIgnoreCase((*names_)[i], name))
                return std::make_shared<RowField>((*names_)[i], row_[i]);
        throw Error(hr::adErrItemNotFound,
                    "Item cannot be found in the collection: the row has no field \"" + name +
                        "\"");
    }
    std::shared_ptr<ado::Field> Item(std::int32_t index) override {
        if (index < 0 || static_cast<std::size_t>(index) >= names_->size())
            throw Error(hr::adErrItemNotFound,
                        "Item cannot be found in the collection: no field at "
                        "position " +
                            std::to_string(index));
        return std::make_shared<RowField>((*names_)[index], row_[index]);
    }
    void Append(const std::string&, const Variant&) override { ThrowReadOnly(); }
    void Update() override { ThrowReadOnly(); }

private:
    std::shared_ptr<const std::vector<std::string>> names_;
    Row row_;
};

// The key a row sorts by: case-folded text, or nothing for a missing value.
std::optional<std::string> SortKey(const Variant& value) {
    std::string textValue;
    if (value.IsText())
        textValue = value.Text();
    else if (value.IsArray() && !value.Array().empty())
        textValue = value.Array().front();
    else if (value.IsInteger() || value.IsBool())
        textValue = value.ToText();
    else
        return std::nullopt;
    std::string folded;
    icu::UnicodeString::fromUTF8(textValue).foldCase().toUTF8String(folded);
    return folded;
}

} // namespace

void SortRows(std::vector<Row>& rows, std::size_t field, bool descending) {
    std::vector<std::pair<std::optional<std::string>, std::size_t>> keys;
    keys.reserve(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i)
        keys.emplace_back(SortKey(rows[i][field]), i);
    std::stable_sort(keys.begin(), keys.end(), [descending](const auto& a, const auto& b) {
        if (!a.first || !b.first)
            return a.first.has_value() && !b.first.has_value();
        return descending ? *b.first < *a.first : *a.first < *b.first;
    });
    std::vector<Row> sorted;
    sorted.reserve(rows.size());
    for (const auto& key : keys)
        sorted.push_back(std::move(rows[key.second]));
    rows = std::move(sorted);
}

DirectoryRecordset::DirectoryRecordset(std::vector<std::string> fieldNames,
                                       std::unique_ptr<LdapSearch> search, RowMaker makeRow,
                                       RecordsetOptions options)
    : fieldNames_(std::make_shared<const std::vector<std::string>>(std::move(fieldNames))),
      search_(std::move(search)), makeRow_(std::move(makeRow)), options_(options) {
    if (options_.cacheResults || options_.orderBy >= 0) {
        while (FetchPage())
            YieldToCaller(); // a long search: let a waiting window handle its events
        if (options_.orderBy >= 0)
            SortRows(rows_, static_cast<std::size_t>(options_.orderBy), options_.descending);
    }
}

bool DirectoryRecordset::FetchPage() {
    if (!search_ || search_->Done())
        return false;
    std::vector<LdapEntry> entries;
    const bool more = search_->NextPage(entries);
    for (const auto& entry : entries)
        rows_.push_back(makeRow_(entry));
    if (search_->Done())
        search_.reset(); // the rows are all here; let the connection go
    return more;
}

void DirectoryRecordset::Open(const std::string&, const std::shared_ptr<ado::Connection>&,
                              std::int32_t, std::int32_t, std::int32_t) {
    throw Error(hr::adErrObjectOpen, "Operation is not allowed when the recordset is open.");
}

void DirectoryRecordset::RequireOpen() const {
    if (!open_)
        throw Error(hr::adErrObjectClosed,
                    "Operation is not allowed when the recordset is closed.");
}

bool DirectoryRecordset::Eof() {
    RequireOpen();
    while (current_ >= rows_.size() && search_) {
        // Rows already read are not kept when results are not cached.
        rows_.clear();
        current_ = 0;
        FetchPage();
    }
    return current_ >= rows_.size();
}

std::shared_ptr<ado::Fields> DirectoryRecordset::Fields() {
    if (Eof())
        throw Error(hr::adErrNoCurrentRecord,
                    "Either BOF or EOF is True, or the current record has been deleted.");
    return std::make_shared<RowFields>(fieldNames_, rows_[current_]);
}

void DirectoryRecordset::MoveNext() {
    if (Eof())
        throw Error(hr::adErrNoCurrentRecord,
                    "Either BOF or EOF is True, or the current record has been deleted.");
    ++current_;
}

std::int64_t DirectoryRecordset::RecordCount() {
    RequireOpen();
    if (search_)
        return -1; // not every row has been read yet
    return options_.cacheResults || options_.orderBy >= 0 ? static_cast<std::int64_t>(rows_.size())
                                                          : -1;
}

void DirectoryRecordset::Close() {
    RequireOpen();
    open_ = false;
    search_.reset();
    rows_.clear();
    makeRow_ = nullptr; // lets go of what it keeps for binds
}

ado::ObjectState DirectoryRecordset::State() const {
    return open_ ? ado::adStateOpen : ado::adStateClosed;
}

} // namespace platform::directory
