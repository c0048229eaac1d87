// A registration whose criteria cannot be read sits beside the valid "Lorvanta.reg": saves go on,
// the event log says which registration is broken and how, and the valid one still stamps (once:
// the broken one, which names the same sink, must not run as if it had no criteria).

#include "FaultRoad.h"

#include "platform/store/PropertyNames.h"

namespace faulttest {
namespace {

using exhost_test::Lines;

struct BrokenCase {
    const char* name;
    std::string criteria;
    const char* logged; // part of the reason the log gives
};

class BrokenCriteria : public FaultRoad, public ::testing::WithParamInterface<BrokenCase> {};

TEST_P(BrokenCriteria, TheBrokenRegistrationIsSkippedAndLoggedTheOthersRun) {
    const auto& param = GetParam();
    // Runs first, if it runs at all.
    AddRegistration("Broken.reg", param.criteria, 0);

    const auto url = Deliver(param.name);

    EXPECT_EQ(StampOf(url), OwnerAddress());
    EXPECT_EQ(KeywordsOf(url), OwnerAddress());
    const auto lines = Lines(EventLog());
    ASSERT_EQ(lines.size(), 1u) << EventLog();
    EXPECT_NE(lines[0].find("\t" + url + "\t" + kSinkProgId + "\t"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find(InboxUrl() + "/Broken.reg"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find(param.logged), std::string::npos) << lines[0];
}

INSTANTIATE_TEST_SUITE_P(
    Criteria, BrokenCriteria,
    ::testing::Values(
        BrokenCase{"ComparisonWithoutValue", " WHERE \"DAV:ishidden\" = ", "Syntax error"},
        BrokenCase{"WhereAlone", "WHERE", "Syntax error"},
        BrokenCase{"NameQuoteLeftOpen", " WHERE \"DAV:ishidden = FALSE", "unterminated name"},
        BrokenCase{"TextQuoteLeftOpen", " WHERE \"DAV:ishidden\" = 'false", "unterminated text"},
        BrokenCase{"UnknownWordOperator", " WHERE \"DAV:ishidden\" LIKE FALSE", "Syntax error"},
        BrokenCase{"UnknownSymbolOperator", " WHERE \"DAV:ishidden\" > 0", "unexpected character"},
        BrokenCase{"DoubledEquals", " WHERE \"DAV:ishidden\" == FALSE", "Syntax error"},
        BrokenCase{"ParenthesisLeftOpen", " WHERE (\"DAV:ishidden\" = FALSE", "Syntax error"},
        BrokenCase{"IntegerOutOfRange", " WHERE \"DAV:ishidden\" = 99999999999999999999",
                   "integer out of range"},
        BrokenCase{"NestedTooDeep",
                   " WHERE " + std::string(50000, '(') + "\"DAV:ishidden\" = FALSE" +
                       std::string(50000, ')'),
                   "Syntax error"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FaultRoad, CriteriaGivenAsAListOfTextsAreNotTakenForNone) {
    AddRegistration("Broken.reg", " WHERE \"DAV:ishidden\" = FALSE", 0);
    // Rewritten as a multi-valued property, as a careless script might leave it.
    const auto location = store_->Locate(InboxUrl() + "/Broken.reg");
    platform::store::PendingSave save;
    save.location = location;
    save.properties = store_->Read(location).properties;
    save.Set(platform::store::kEventNamespace + "criteria",
             platform::Variant(platform::Variant::TextArray{"WHERE \"DAV:ishidden\" = TRUE",
                                                            "WHERE \"DAV:ishidden\" = FALSE"}));
    store_->Save(save);

    const auto url = Deliver("list of criteria");

    EXPECT_EQ(KeywordsOf(url), OwnerAddress());
    const auto lines = Lines(EventLog());
    ASSERT_EQ(lines.size(), 1u) << EventLog();
    EXPECT_NE(lines[0].find(InboxUrl() + "/Broken.reg"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("not one text"), std::string::npos) << lines[0];
}

} // namespace
} // namespace faulttest
