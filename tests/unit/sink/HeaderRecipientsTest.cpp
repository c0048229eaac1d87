// The recipient list of a header block: by case; for the sample messages (expected-recipients.txt);
// and on random blocks against a plain model of the rules (split into lines, collect To and Cc,
// clean entry by entry). The byte classes of every vector way match the bytewise reading.

#include "sink/LorvantaModule.h"

#include "platform/core/Text.h"
#include "platform/store/Delivery.h"
#include "sink/AddressBytes.h"
#include "sink/PlainRecipients.h"
#include "testsupport/FileText.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <map>
#include <random>
#include <vector>

using lorvanta::AvailableBlockClassifiers;
using lorvanta::BlockClasses;
using lorvanta::BlockClassifier;
using lorvanta::GetHeaderRecipients;
using recipientmodel::PlainCleanAddressList;
using recipientmodel::PlainHeaderRecipients;

namespace {

// A header block from its lines, each ended by CR LF.
std::string Headers(std::initializer_list<std::string> lines) {
    std::string block;
    for (const auto& line : lines)
        block += line + "\r\n";
    return block;
}

struct RecipientCase {
    const char* name;
    std::string headers;
    std::string expected;
};

class HeaderRecipients : public ::testing::TestWithParam<RecipientCase> {};

TEST_P(HeaderRecipients, GivesTheRecipientList) {
    EXPECT_EQ(GetHeaderRecipients(GetParam().headers), GetParam().expected);
}

const RecipientCase kRecipientCases[] = {
    {"EmptyBlock", "", ""},
    {"OnlyBlankLines", Headers({"   ", ""}), ""},
    {"PlainTo", Headers({"From: x@y.org", "To: alice@example.com", "Subject: hi"}),
     "alice@example.com"},
    {"DisplayNameInAngles", Headers({"To: Alice Smith <alice@example.com>"}), "alice@example.com"},
    {"QuotedDisplayNameWithComma",
     Headers({"To: \"Smith, Alice\" <alice@example.com>, bob@example.com"}),
     "alice@example.com,bob@example.com"},
    {"ApostrophesAndParens", Headers({"To: 'alice@example.com', <bob@example.com> (Bob)"}),
     "alice@example.com,bob@example.com"},
    {"DisplayNameIsTheAddress", Headers({"To: alice@example.com <alice@example.com>"}),
     "alice@example.com"},
    {"FoldedWithTab", Headers({"To: alice@example.com,", "\tbob@example.com"}),
     "alice@example.com,bob@example.com"},
    {"FoldedWithBlank", Headers({"To: alice@example.com,", "   Bob <bob@example.com>"}),
     "alice@example.com,bob@example.com"},
    {"FoldedLineWithColonEndsTheHeader",
     Headers({"To: alice@example.com,", " \"Ops: Night\" <ops@example.com>"}), "alice@example.com"},
    {"BlankLineInsideAFoldDoesNotEndIt", Headers({"To: a@x.org,", "  ", "\tb@x.org"}),
     "a@x.org,b@x.org"},
    {"CcBeforeTo", Headers({"Cc: carol@example.com", "To: alice@example.com"}),
     "carol@example.com,alice@example.com"},
    {"SeveralToHeaders", Headers({"To: a@x.org", "Subject: s", "To: b@x.org", "cc: c@x.org"}),
     "a@x.org,b@x.org,c@x.org"},
    {"NamesInAnyCase", Headers({"tO: a@x.org", "cC: b@x.org"}), "a@x.org,b@x.org"},
    {"DuplicatesKept", Headers({"To: a@x.org", "Cc: A@x.org, a@x.org"}), "a@x.org,A@x.org,a@x.org"},
    {"RecipientListWins",
     Headers({"To: a@x.org", "X-RecipientList: p@x.org;q@x.org", "Cc: c@x.org"}),
     "p@x.org,q@x.org"},
    {"RecipientListAnyCase", Headers({"x-recipientlist: p@x.org"}), "p@x.org"},
    {"RecipientListKeepsBlanksAndEntries", Headers({"X-RecipientList:  p@x.org; Q <q@x.org> "}),
     "p@x.org, Q <q@x.org>"},
    {"RecipientListEmptyIsIgnored", Headers({"X-RecipientList:    ", "To: a@x.org"}), "a@x.org"},
    {"RecipientListEmptyEndsAFold", Headers({"To: a@x.org,", "X-RecipientList:", "\tb@x.org"}),
     "a@x.org"},
    {"LeadingBlankIsNotAHeader", Headers({" To: a@x.org"}), ""},
    {"OtherHeadersNotRecognised",
     Headers({"Resent-To: a@x.org", "Bcc: b@x.org", "To : c@x.org", "Delivered-To: d@x.org"}), ""},
    {"NoAddressHeaders", Headers({"From: a@x.org", "Subject: Re: To: b@x.org"}), ""},
    {"UndisclosedRecipients", Headers({"To: undisclosed-recipients:;"}), ""},
    {"LoneLineFeedDoesNotSplit", "To: a@x.org\nCc: b@x.org\r\n", "a@x.org\nCc:"},
    {"LoneCarriageReturnDoesNotSplit", "To: a@x.org\rCc: b@x.org\r\n", "a@x.org\rCc:"},
    {"NoFinalLineBreak", "Subject: s\r\nTo: a@x.org", "a@x.org"},
    {"EmptyToThenCc", Headers({"To:", "Cc: b@x.org"}), "b@x.org"},
};

INSTANTIATE_TEST_SUITE_P(Cases, HeaderRecipients, ::testing::ValuesIn(kRecipientCases),
                         [](const auto& info) { return std::string(info.param.name); });

namespace fs = std::filesystem;

const fs::path kMessages = fs::path(LORVANTA_FIXTURES) / "messages";

std::map<std::string, std::string> ExpectedRecipients() {
    std::map<std::string, std::string> expected;
    std::ifstream in(kMessages / "expected-recipients.txt");
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        const auto tab = line.find('\t');
        expected[line.substr(0, tab)] = tab == std::string::npos ? "" : line.substr(tab + 1);
    }
    return expected;
}

TEST(FixtureMessages, EachGivesItsExpectedRecipients) {
    const auto expected = ExpectedRecipients();
    int checked = 0;
    for (const auto& entry : fs::directory_iterator(kMessages)) {
        if (entry.path().extension() != ".eml")
            continue;
        const auto name = entry.path().filename().string();
        const auto found = expected.find(name);
        ASSERT_NE(found, expected.end()) << name << " is not in expected-recipients.txt";
        const auto message = testsupport::FileText(entry.path());
        EXPECT_NE(message.find("\r\n"), std::string::npos) << name << " must use CR LF";
        const auto headers = platform::store::ParseMessage(message).headers; // as stored
        EXPECT_EQ(lorvanta::GetHeaderRecipients(headers), found->second) << name;
        ++checked;
    }
    EXPECT_EQ(checked, static_cast<int>(expected.size()));
    EXPECT_GE(checked, 8);
}

// Random header blocks from the pieces that steer the scan ("|" between two).
std::string RandomBlock(std::mt19937& random, std::size_t pieces) {
    static const auto kPieces = platform::text::Split(
        "\r\n|\r\n|\r\n|\r\nTo:|\r\nCc:|\r\ncc:|\r\n\t|\r\n |To:|X-RecipientList:|"
        "x-recipientlist: |\r\nX-RecipientList:|\r\nSubject: | | |\t|,|,|@|@|\"|'|<|>|:|;|\r|\n|a|"
        "bob|example.com|\xC3\xA9|\xC5\xBF|(|)|  ",
        '|');
    std::uniform_int_distribution<std::size_t> pick(0, kPieces.size() - 1);
    std::string block;
    for (std::size_t i = 0; i < pieces; ++i)
        block += kPieces[pick(random)];
    return block;
}

// Long blocks cross the scanner's block boundaries with addresses that span folded lines.
TEST(HeaderRecipientsModel, RandomBlocksGiveWhatThePlainRulesGive) {
    std::mt19937 shortBlocks(20261206), longBlocks(99);
    for (int round = 0; round < 20200; ++round) {
        const auto block = round < 20000
                               ? RandomBlock(shortBlocks, static_cast<std::size_t>(round % 120))
                               : "To: " + RandomBlock(longBlocks, 2000);
        ASSERT_EQ(lorvanta::GetHeaderRecipients(block), PlainHeaderRecipients(block).recipients)
            << "block: " << testing::PrintToString(block);
    }
}

TEST(HeaderRecipientsModel, RandomListsCleanAsThePlainRulesClean) {
    std::mt19937 maker(7);
    for (int round = 0; round < 20000; ++round) {
        const auto list = RandomBlock(maker, static_cast<std::size_t>(round % 60));
        ASSERT_EQ(lorvanta::CleanAddressList(list), PlainCleanAddressList(list))
            << "list: " << testing::PrintToString(list);
    }
}

std::vector<BlockClasses> Classify(BlockClassifier classify, const std::string& text,
                                   std::size_t base) {
    std::vector<BlockClasses> blocks(4);
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    blocks.resize(classify(bytes, base, text.size(), blocks.data(), blocks.size()));
    return blocks;
}

// The vector ways must agree with the plain one on every byte, the short last block included.
TEST(AddressBytes, VectorWaysAgreeWithBytewise) {
    const auto ways = AvailableBlockClassifiers();
    const std::string alphabet = "ab@,\t <>\"':\r\n\x80\xff";
    std::mt19937 random(42);
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    for (const std::size_t size : {1u, 63u, 64u, 65u, 200u, 256u, 300u, 1000u}) {
        std::string text;
        for (std::size_t i = 0; i < size; ++i)
            text += alphabet[pick(random)];
        for (std::size_t base = 0; base < size; base += 64) {
            const auto expected = Classify(ways.bytewise, text, base);
            ASSERT_EQ(expected.size(), std::min<std::size_t>(4, (size - base + 63) / 64));
            for (const auto way : {ways.sse2, ways.avx2, ways.avx512}) {
                if (way) {
                    EXPECT_EQ(Classify(way, text, base), expected)
                        << "size " << size << ", base " << base;
                }
            }
        }
    }
}

} // namespace
