// The COM+ catalog as the setup program and the admin tool drive it.

#include "platform/complus/Catalog.h"
#include "platform/com/Activation.h"
#include "platform/com/ClassRegistry.h"
#include "platform/com/Guid.h"
#include "platform/complus/CatalogAdmin.h"
#include "platform/complus/CatalogErrors.h"
#include "platform/complus/CatalogFile.h"
#include "platform/complus/ComponentClasses.h"
#include "testsupport/FailureOf.h"
#include "testsupport/FileText.h"
#include "testsupport/ScopedServerFolder.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace platform;
using namespace platform::complus;

namespace {

class Catalog : public ::testing::Test {
protected:
    std::shared_ptr<CatalogCollection> Applications() {
        auto catalog = CreateObjectAs<ComAdminCatalog>(kCatalogProgId);
        auto applications = catalog->GetCollection("Applications");
        applications->Populate();
        return applications;
    }
    std::shared_ptr<ComAdminCatalog> NewCatalog() {
        return CreateObjectAs<ComAdminCatalog>(kCatalogProgId);
    }
    // Adds and saves an application of that name; returns its ID.
    std::string AddApplication(const std::string& name) {
        auto applications = Applications();
        auto application = applications->Add();
        application->SetValue("Name", Variant(name));
        applications->SaveChanges();
        return application->Key().Text();
    }
    std::vector<std::string> StoredNames() {
        std::vector<std::string> names;
        auto applications = Applications();
        for (std::int32_t i = 0; i < applications->Count(); ++i)
            names.push_back(applications->Item(i)->Name().ToText());
        return names;
    }
    com::ClassRegistry Registry() const { return com::ClassRegistry(folder.ComDir()); }
    host::ServerFolder Folder() const { return host::ServerFolder(folder.Root()); }
    std::string FileText() const {
        return testsupport::FileText(folder.Path() / "complus" / "applications");
    }

    testsupport::ScopedServerFolder folder;
};

TEST_F(Catalog, NothingIsStoredBeforeSaveChanges) {
    EXPECT_EQ(Applications()->Count(), 0);
    auto applications = Applications();
    applications->Add()->SetValue("Name", Variant("Lorvanta"));
    EXPECT_EQ(applications->Count(), 1);
    EXPECT_TRUE(StoredNames().empty());
    applications->SaveChanges();
    EXPECT_EQ(StoredNames(), std::vector<std::string>{"Lorvanta"});
}

TEST_F(Catalog, ThePasswordIsKeptPrivately) {
    auto applications = Applications();
    auto application = applications->Add();
    application->SetValue("Password", Variant("s3cret pw"));
    EXPECT_EQ(application->Value("Password"), Variant("********"));
    applications->SaveChanges();
    EXPECT_EQ(Applications()->Item(0)->Value("Password"), Variant("********"));

    // The file modes are checked for the whole server folder (PrivateServerFolderTest).
}

TEST_F(Catalog, AFailedSaveStoresNothing) {
    AddApplication("Gone");
    auto stale = Applications();
    auto other = Applications();
    other->Remove(0);
    other->SaveChanges();
    // The stale collection changes an application that no longer exists and adds another.
    stale->Item(0)->SetValue("Name", Variant("Renamed"));
    stale->Add()->SetValue("Name", Variant("New"));
    EXPECT_EQ(testsupport::FailureOf([&] { stale->SaveChanges(); }).number,
              hr::COMADMIN_E_OBJECT_DOES_NOT_EXIST);
    EXPECT_TRUE(StoredNames().empty());
}

TEST_F(Catalog, ADamagedCatalogFileIsAReadFailure) {
    std::filesystem::create_directories(folder.Path() / "complus");
    std::ofstream(folder.Path() / "complus" / "applications") << "application\nnonsense\n";
    const auto failure = testsupport::FailureOf([&] { Applications(); });
    EXPECT_EQ(failure.number, hr::COMADMIN_E_APP_FILE_READFAIL);
    EXPECT_NE(failure.description.find("line 2"), std::string::npos) << failure.description;
}

TEST_F(Catalog, InstallComponentRecordsTheClassesAndMakesThemCreatable) {
    AddApplication("Lorvanta");
    NewCatalog()->InstallComponent("LORVANTA", LORVANTA_DLL, "", "");

    const auto registered = Registry().FindByProgId("Lorvanta.LorvantaCls");
    ASSERT_TRUE(registered);
    EXPECT_EQ(std::filesystem::canonical(registered->server),
              std::filesystem::canonical(LORVANTA_DLL));
    const auto stored = CatalogFile(folder.Path() / "complus").Read();
    ASSERT_EQ(stored.size(), 1u);
    ASSERT_EQ(stored[0].components.size(), 1u);
    EXPECT_EQ(stored[0].components[0], *registered);
    EXPECT_TRUE(com::CreateInstance(Registry(), "Lorvanta.LorvantaCls", com::IID_IUnknown));
}

TEST_F(Catalog, InstallComponentFailures) {
    AddApplication("Lorvanta");
    AddApplication("Twice");
    AddApplication("twice");
    const auto notADll = folder.Path() / "text.dll";
    std::ofstream(notADll) << "not a shared library";
    struct Case {
        const char* what;
        std::string application;
        std::string dll;
        std::string typeLibrary;
        std::int32_t number;
        std::string named; // what the description must name
    };
    const Case cases[] = {
        {"unknown application", "Nobody", LORVANTA_DLL, "", hr::COMADMIN_E_OBJECT_DOES_NOT_EXIST,
         "Nobody"},
        {"same name twice", "TWICE", LORVANTA_DLL, "", hr::COMADMIN_E_AMBIGUOUS_APPLICATION_NAME,
         "TWICE"},
        {"missing DLL", "Lorvanta", (folder.Path() / "missing.dll").string(), "",
         hr::COMADMIN_E_COMPFILE_DOESNOTEXIST, "missing.dll"},
        {"unloadable DLL", "Lorvanta", notADll.string(), "", hr::COMADMIN_E_COMPFILE_LOADDLLFAIL,
         "text.dll"},
        {"no registration entry", "Lorvanta", NO_ENTRY_POINTS_DLL, "",
         hr::COMADMIN_E_COMPFILE_NOREGISTRAR, "DllRegisterServer"},
        {"missing type library", "Lorvanta", LORVANTA_DLL, "/nonexistent.tlb",
         hr::COMADMIN_E_COMPFILE_DOESNOTEXIST, "nonexistent.tlb"},
    };
    for (const auto& c : cases) {
        const auto failure = testsupport::FailureOf(
            [&] { NewCatalog()->InstallComponent(c.application, c.dll, c.typeLibrary, ""); });
        EXPECT_EQ(failure.number, c.number) << c.what << ": " << failure.description;
        EXPECT_NE(failure.description.find(c.named), std::string::npos)
            << c.what << ": " << failure.description;
    }
    EXPECT_TRUE(Registry().List().empty());
    for (const auto& application : CatalogFile(folder.Path() / "complus").Read())
        EXPECT_TRUE(application.components.empty());
}

TEST_F(Catalog, LearningAServersClassesLeavesTheRegistryAlone) {
    const auto classes = LearnServerClasses(LORVANTA_DLL);
    ASSERT_EQ(classes.size(), 1u);
    EXPECT_EQ(classes[0].progId, "Lorvanta.LorvantaCls");
    EXPECT_EQ(classes[0].threadingModel, "Apartment");
    EXPECT_TRUE(Registry().List().empty());
    // The redirection ended with the call: the server registers into the real registry again.
    com::RegisterServer(LORVANTA_DLL);
    EXPECT_TRUE(Registry().FindByProgId("Lorvanta.LorvantaCls"));
}

TEST_F(Catalog, InstallListsTheApplicationWithoutItsPassword) {
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
    EXPECT_NE(FileText().find("pa55word"), std::string::npos) << FileText();
}

TEST_F(Catalog, WithoutBothIdentityAndPasswordTheDefaultIdentityStays) {
    InstallApplication(Folder(), "Lorvanta", LORVANTA_DLL, "EXAMPLE\\svc", "   ");
    const auto listing = ListApplications(Folder());
    ASSERT_EQ(listing.size(), 1u);
    EXPECT_EQ(listing[0].identity, "Interactive User");
    EXPECT_FALSE(listing[0].passwordSet);
    EXPECT_NE(FormatApplications(listing).find("password: not set"), std::string::npos);
}

TEST_F(Catalog, AFailedInstallLeavesNothingBehind) {
    EXPECT_EQ(testsupport::FailureOf([&] {
                  InstallApplication(Folder(), "Lorvanta", (folder.Path() / "none.dll").string(),
                                     "", "");
              }).number,
              hr::COMADMIN_E_COMPFILE_DOESNOTEXIST);
    EXPECT_TRUE(ListApplications(Folder()).empty());
}

TEST_F(Catalog, RemoveTakesEveryMatchAndItsClasses) {
    InstallApplication(Folder(), "Lorvanta", LORVANTA_DLL, "", "");
    const auto other = InstallApplication(Folder(), "Other", LORVANTA_DLL, "", "");
    EXPECT_EQ(RemoveApplications(Folder(), "other"), 1);
    // The class had moved to "Other", so it went with it.
    EXPECT_FALSE(com::ClassRegistry(folder.ComDir()).FindByProgId("Lorvanta.LorvantaCls"));
    EXPECT_EQ(ListApplications(Folder()).size(), 1u);
    EXPECT_EQ(testsupport::FailureOf([&] { RemoveApplications(Folder(), other); }).number,
              hr::COMADMIN_E_OBJECT_DOES_NOT_EXIST);
}

TEST_F(Catalog, AFileChangeThatFailsStoresNothing) {
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

TEST_F(Catalog, AFolderThatCannotBeMadeIsAWriteFailure) {
    std::ofstream(folder.Path() / "complus") << "a file where the folder belongs";
    EXPECT_EQ(testsupport::FailureOf([&] {
                  CatalogFile(folder.Path() / "complus").Modify([](auto&) {});
              }).number,
              hr::COMADMIN_E_APP_FILE_WRITEFAIL);
}

} // namespace
