// The COM+ catalog as the admin tool and the setup program use it: installing without exposing the
// password, all or nothing on failure, removing every match with its classes.

#include "platform/complus/CatalogAdmin.h"
#include "platform/com/ClassRegistry.h"
#include "platform/complus/CatalogErrors.h"
#include "platform/complus/CatalogFile.h"
#include "testsupport/FailureOf.h"
#include "testsupport/FileText.h"
#include "testsupport/ScopedServerFolder.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace platform;
using namespace platform::complus;

namespace {

class CatalogAdmin : public ::testing::Test {
protected:
    host::ServerFolder Folder() const { return host::ServerFolder(folder.Root()); }
    std::string FileText() const {
        return testsupport::FileText(folder.Path() / "complus" / "applications");
    }
    testsupport::ScopedServerFolder folder;
};

TEST_F(CatalogAdmin, InstallListsTheApplicationWithoutItsPassword) {
    const auto id =
        InstallApplication(Folder(), "Lorvanta", LORVANTA_DLL, " EXAMPLE\\svc ", " pa55word ");
    const auto listing = ListApplications(Folder());
    ASSERT_EQ(listing.size(), 1u);
    EXPECT_EQ(listing[0].id, id);
    EXPECT_EQ(listing[0].name, "Lorvanta");
    EXPECT_EQ(listing[0].identity, "EXAMPLE\\svc");
    EXPECT_TRUE(listing[0].passwordSet);
    EXPECT_FALSE(listing[0].accessChecksEnabled);
    ASSERT_EQ(listing[0].components.size(), 1u);
    EXPECT_EQ(listing[0].components[0].progId, "Lorvanta.LorvantaCls");
    // Printed without it by "exhost complus list" (ExhostIntegrationTest); the stored catalog does
    // keep it, for the application's process.
    EXPECT_NE(FileText().find("pa55word"), std::string::npos);
}

TEST_F(CatalogAdmin, WithoutBothIdentityAndPasswordTheDefaultIdentityStays) {
    InstallApplication(Folder(), "Lorvanta", LORVANTA_DLL, "EXAMPLE\\svc", "   ");
    const auto listing = ListApplications(Folder());
    ASSERT_EQ(listing.size(), 1u);
    EXPECT_EQ(listing[0].identity, "Interactive User");
    EXPECT_FALSE(listing[0].passwordSet);
    EXPECT_NE(FormatApplications(listing).find("password: not set"), std::string::npos);
}

TEST_F(CatalogAdmin, AFailedInstallLeavesNothingBehind) {
    EXPECT_EQ(testsupport::FailureOf([&] {
                  InstallApplication(Folder(), "Lorvanta", (folder.Path() / "none.dll").string(),
                                     "", "");
              }).number,
              hr::COMADMIN_E_COMPFILE_DOESNOTEXIST);
    EXPECT_TRUE(ListApplications(Folder()).empty());
}

TEST_F(CatalogAdmin, RemoveTakesEveryMatchAndItsClasses) {
    InstallApplication(Folder(), "Lorvanta", LORVANTA_DLL, "", "");
    const auto other = InstallApplication(Folder(), "Other", LORVANTA_DLL, "", "");
    EXPECT_EQ(RemoveApplications(Folder(), "other"), 1);
    // The class had moved to "Other", so it went with it.
    EXPECT_FALSE(com::ClassRegistry(folder.ComDir()).FindByProgId("Lorvanta.LorvantaCls"));
    EXPECT_EQ(ListApplications(Folder()).size(), 1u);
    EXPECT_EQ(testsupport::FailureOf([&] { RemoveApplications(Folder(), other); }).number,
              hr::COMADMIN_E_OBJECT_DOES_NOT_EXIST);
}

TEST(CatalogFile, AChangeThatFailsStoresNothing) {
    testsupport::ScopedServerFolder folder;
    CatalogFile file(folder.Path() / "complus");
    file.Modify([](auto& applications) {
        applications.emplace_back();
        applications.back().Set("Name", Variant("Kept"));
    });
    EXPECT_THROW(file.Modify([](auto& applications) {
        applications.clear();
        throw Error(hr::E_FAIL, "stop");
    }),
                 Error);
    ASSERT_EQ(file.Read().size(), 1u);
    EXPECT_EQ(file.Read()[0].Name(), "Kept");
}

TEST(CatalogFile, AFolderThatCannotBeMadeIsAWriteFailure) {
    testsupport::ScopedServerFolder folder;
    std::ofstream(folder.Path() / "complus") << "a file where the folder belongs";
    EXPECT_EQ(testsupport::FailureOf([&] {
                  CatalogFile(folder.Path() / "complus").Modify([](auto&) {});
              }).number,
              hr::COMADMIN_E_APP_FILE_WRITEFAIL);
}

} // namespace
