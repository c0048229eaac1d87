// The COM+ operations against the real catalog of a temporary server folder, installing the
// built Lorvanta.dll from a temporary current directory.

#include "platform/com/ClassRegistry.h"
#include "platform/complus/CatalogAdmin.h"
#include "platform/complus/CatalogErrors.h"
#include "setup/ComPlus.h"
#include "tests/unit/setup/SetupTestClock.h"
#include "testsupport/ScopedServerFolder.h"

#include <gmock/gmock.h>

using namespace lorvanta::setup;
namespace complus = platform::complus;
namespace fs = std::filesystem;
using ::testing::StartsWith;

namespace {

class ComPlusInCatalog : public ::testing::Test {
protected:
    void SetUp() override {
        previousDirectory = fs::current_path();
        workDirectory = folder.Path() / "cwd";
        fs::create_directories(workDirectory);
        fs::current_path(workDirectory);
    }
    void TearDown() override { fs::current_path(previousDirectory); }
    void PutDll() { fs::copy_file(LORVANTA_DLL, workDirectory / "Lorvanta.dll"); }
    std::vector<complus::ApplicationListing> Listing() const {
        return complus::ListApplications(platform::host::ServerFolder(folder.Root()));
    }
    bool SinkRegistered() const {
        return platform::com::ClassRegistry(folder.ComDir())
            .FindByProgId("Lorvanta.LorvantaCls")
            .has_value();
    }

    testsupport::ScopedServerFolder folder;
    setuptest::PinnedClockAndLocale pinned;
    TextErrorLog log;
    fs::path previousDirectory;
    fs::path workDirectory;
};

TEST_F(ComPlusInCatalog, AnEmptyCatalogHasNothingToFindOrRemove) {
    EXPECT_FALSE(FindComPlusApp(log, "Lorvanta"));
    RemoveComPlusApp(log, "Lorvanta");
    EXPECT_EQ(log.Text(), "");
    EXPECT_TRUE(Listing().empty());
}

TEST_F(ComPlusInCatalog, WithoutTheDllTheApplicationStaysWithoutAComponent) {
    InstallComPlusApp(log, "Lorvanta", "", "");
    EXPECT_THAT(log.Text(),
                StartsWith(setuptest::kStamp + " - ERROR: " +
                           std::to_string(platform::hr::COMADMIN_E_COMPFILE_DOESNOTEXIST) + " "));
    EXPECT_NE(log.Text().find((workDirectory / "Lorvanta.dll").string()), std::string::npos);
    const auto listing = Listing();
    ASSERT_EQ(listing.size(), 1u);
    EXPECT_TRUE(listing[0].components.empty());
    EXPECT_TRUE(FindComPlusApp(log, "Lorvanta"));
}

TEST_F(ComPlusInCatalog, SameNameApplicationsAreRemovedOneAtATimeFromTheLowestIndex) {
    PutDll();
    InstallComPlusApp(log, "Lorvanta", "", "");
    ASSERT_EQ(log.Text(), "");
    // A second one is added although one exists; its component cannot be told apart by name.
    InstallComPlusApp(log, "LORVANTA", "", "");
    EXPECT_THAT(log.Text(),
                StartsWith(setuptest::kStamp + " - ERROR: " +
                           std::to_string(platform::hr::COMADMIN_E_AMBIGUOUS_APPLICATION_NAME) +
                           " "));
    auto listing = Listing();
    ASSERT_EQ(listing.size(), 2u);
    const auto second = listing[1].id;

    RemoveComPlusApp(log, "lorvanta");
    listing = Listing();
    ASSERT_EQ(listing.size(), 1u);
    EXPECT_EQ(listing[0].id, second);
    // The classes went with the first application, which held them.
    EXPECT_FALSE(SinkRegistered());
    EXPECT_TRUE(FindComPlusApp(log, "Lorvanta"));
    RemoveComPlusApp(log, "Lorvanta");
    EXPECT_TRUE(Listing().empty());
}

} // namespace
