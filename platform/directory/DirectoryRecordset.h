#pragma once

// The rows of a directory search as an ADO record set: read forward, fields by name (any case)
// or position, optionally every row fetched at once (cached, countable, sortable).

#include "platform/core/Ado.h"
#include "platform/directory/LdapConnection.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform::directory {

using Row = std::vector<Variant>;
using RowMaker = std::function<Row(const LdapEntry&)>;

struct RecordsetOptions {
    // Fetch every row before the first is read (needed for sorting and counting).
    bool cacheResults = true;
    // Index into the field names, or -1 for the server's order.
    int orderBy = -1;
    bool descending = false;
};

class DirectoryRecordset final : public ado::Recordset {
public:
    DirectoryRecordset(std::vector<std::string> fieldNames, std::unique_ptr<LdapSearch> search,
                       RowMaker makeRow, RecordsetOptions options);

    void Open(const std::string& source, const std::shared_ptr<ado::Connection>& activeConnection,
              std::int32_t cursorType, std::int32_t lockType, std::int32_t options) override;
    bool Eof() override;
    std::shared_ptr<ado::Fields> Fields() override;
    void MoveNext() override;
    std::int64_t RecordCount() override;
    void Close() override;
    ado::ObjectState State() const override;

private:
    void RequireOpen() const;
    bool FetchPage();

    std::shared_ptr<const std::vector<std::string>> fieldNames_;
    std::unique_ptr<LdapSearch> search_;
    RowMaker makeRow_;
    RecordsetOptions options_;
    std::vector<Row> rows_;
    std::size_t current_ = 0;
    bool open_ = true;
};

// Orders rows by one field, comparing texts without regard to case; rows without a value go last.
void SortRows(std::vector<Row>& rows, std::size_t field, bool descending);

} // namespace platform::directory
