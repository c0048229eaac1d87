// Sorting directory rows the way a sorted search hands them out: case ignored, missing values last.

#include "platform/directory/DirectoryRecordset.h"

#include <gtest/gtest.h>

using platform::Variant;
using platform::directory::Row;
using platform::directory::SortRows;

namespace {

std::vector<std::string> Column(const std::vector<Row>& rows, std::size_t field) {
    std::vector<std::string> texts;
    for (const auto& row : rows)
        texts.push_back(row[field].IsNull() ? "<null>" : row[field].ToText());
    return texts;
}

} // namespace

TEST(SortRows, OrdersByOneFieldIgnoringCaseWithMissingValuesLast) {
    std::vector<Row> rows = {
        {Variant("1"), Variant("bravo")},       {Variant("2"), Variant::Null()},
        {Variant("3"), Variant("Alpha")},       {Variant("4"), Variant("alpha")},
        {Variant("5"), Variant("\xC3\x96zil")}, {Variant("6"), Variant("Charlie")},
    };
    SortRows(rows, 1, false);
    // Equal keys keep their order; the non-ASCII letter folds but sorts after ASCII letters.
    EXPECT_EQ(Column(rows, 0), (std::vector<std::string>{"3", "4", "1", "6", "5", "2"}));
    SortRows(rows, 1, true);
    EXPECT_EQ(Column(rows, 0), (std::vector<std::string>{"5", "6", "1", "3", "4", "2"}));
}
