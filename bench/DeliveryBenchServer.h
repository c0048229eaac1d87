#pragma once

// The server folder the delivery benchmarks deliver into: the private directory loaded with the
// sample data for LORVANTA_BENCH_USERS users (100,000 unless set), the store with its domain
// folder, the real sink's class registered, and a message whose headers name the first local
// owner's second address, the one the sink has to find. LORVANTA_KEEP_FIXTURES keeps the folder.

#include "platform/directory/DirectoryServer.h"
#include "platform/directory/SampleDirectory.h"
#include "platform/store/Store.h"
#include "testsupport/ScopedServerFolder.h"

#include <filesystem>
#include <memory>
#include <string>

#include <functional>

namespace deliverybench {

// A delivery benchmark's main: reads the command line, sets its server up with `start`, runs the
// benchmarks asked for and takes the server down with `stop`. 1 when the command line or the
// set-up fails.
int RunBenchmarks(int& argc, char** argv, const std::function<void()>& start,
                  const std::function<void()>& stop);

inline const std::string kDomain = "example.com";

class DeliveryBenchServer {
public:
    // Creates the folder under /tmp and starts the directory.
    void Start(const std::string& sinkDll);
    void Stop();

    // Puts the sink's registration into (or takes it out of) the Inbox of `mailboxUrl`.
    void Register(const std::string& mailboxUrl, bool registered);

    const std::filesystem::path& Root() const { return root_; }
    platform::directory::DirectoryServer& Directory() { return *directory_; }
    platform::store::Store& Store() { return *store_; }
    const platform::directory::SampleDirectory& Sample() const { return sample_; }
    const std::string& Message() const { return message_; }

private:
    std::unique_ptr<testsupport::ScopedServerFolder> folder_;
    std::filesystem::path root_;
    std::unique_ptr<platform::directory::DirectoryServer> directory_;
    std::shared_ptr<platform::store::Store> store_;
    platform::directory::SampleDirectory sample_;
    std::string message_;
};

} // namespace deliverybench
