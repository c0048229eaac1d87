// One private directory for the whole binary: tests share it and only read from it.

#include "testsupport/DirectoryEnvironment.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    testing_directory::DirectoryFixtureSettings settings;
    // Enough mailboxes of this server for a paged listing of more than 100 rows, and an unpaged
    // limit below that, so that only paging can return them all.
    settings.sample.users = 150;
    settings.sample.seed = 7;
    settings.unpagedSizeLimit = 100;
    ::testing::AddGlobalTestEnvironment(new testing_directory::DirectoryEnvironment(settings));
    return RUN_ALL_TESTS();
}
