#include "setup/InstallForm.h"

#include "FakeUserInterface.h"
#include "platform/core/Error.h"
#include "platform/host/LogonName.h"
#include "testsupport/FakeDirectory.h"

#include <QtTest>

using lorvanta::setup::InstallForm;
using platform::Variant;

class IdentityProposalTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        directory = std::make_unique<doubles::FakeDirectory>();
        form = std::make_unique<InstallForm>(ui, "");
        form->blnNotFirstTime = true; // these tests drive the controls alone
        form->strSearchRoot = "GC://dc01.example.com";
        form->cnn = platform::CreateObjectAs<platform::ado::Connection>("ADODB.Connection");
        form->cnn->SetProvider("adsDSOobject");
        form->cnn->Open(form->strSearchRoot, "", "");
    }
    void cleanup() {
        form.reset();
        directory.reset();
    }

    void proposesTheForestDomainAndTheLogonName() {
        platform::host::ScopedLogonName logon("ExAdmin");
        directory->state().rows = {Variant("CN=Person,CN=Schema,CN=Configuration,DC=a,DC=b,DC=c"),
                                   Variant("CN=Person,CN=Schema,CN=Configuration,DC=x,DC=y")};
        form->FillIdentityField();
        QCOMPARE(form->txtIdent->text(), QString("a.b.c\\ExAdmin")); // the first row wins
        const auto& state = directory->state();
        QCOMPARE(state.queries.back(),
                 std::string("SELECT sAMAccountName, cn, objectCategory FROM "
                             "'GC://dc01.example.com' WHERE objectcategory='person' AND "
                             "sAMAccountName='ExAdmin'"));
        const auto& properties = state.queryProperties.back();
        QCOMPARE(properties.Get("searchscope"), Variant(2));
        QCOMPARE(properties.Get("cache results"), Variant(false));
        QCOMPARE(properties.Get("Chase Referrals"), Variant(96));
        QVERIFY(properties.Get("Page Size").IsEmpty());
        QVERIFY(properties.Get("Size Limit").IsEmpty());
        QVERIFY(properties.Get("Timeout").IsEmpty());
        QCOMPARE(state.closedRecordsets, 1);
    }

    void unknownAccountGivesTheBareLogonName() {
        platform::host::ScopedLogonName logon("ExAdmin");
        directory->state().rows = {};
        form->FillIdentityField();
        QCOMPARE(form->txtIdent->text(), QString("ExAdmin"));
        directory->state().rows = {Variant::Null()}; // found, but without a category
        form->FillIdentityField();
        QCOMPARE(form->txtIdent->text(), QString("ExAdmin"));
    }

    void apostropheInTheLogonNameGetsTheSameProposal() {
        platform::host::ScopedLogonName logon("O'Brien");
        directory->state().rows = {Variant("CN=Person,CN=Schema,CN=Configuration,DC=corp,DC=com")};
        form->FillIdentityField();
        QCOMPARE(form->txtIdent->text(), QString("corp.com\\O'Brien"));
        QVERIFY(QString::fromStdString(directory->state().queries.back())
                    .endsWith("sAMAccountName='O''Brien'"));
    }

    void failingQueryLeavesTheFieldAndPassesTheFailureOn() {
        platform::host::ScopedLogonName logon("ExAdmin");
        form->txtIdent->setText("before");
        directory->state().executeFails = true;
        QVERIFY_THROWS_EXCEPTION(platform::Error, form->FillIdentityField());
        QCOMPARE(form->txtIdent->text(), QString("before"));
    }

    void realLogonNameIsTheRunningUser() { QVERIFY(!lorvanta::setup::GetLogonUserName().empty()); }

private:
    FakeUserInterface ui;
    std::unique_ptr<doubles::FakeDirectory> directory;
    std::unique_ptr<InstallForm> form;
};

QTEST_MAIN(IdentityProposalTest)
#include "IdentityProposalTest.moc"
