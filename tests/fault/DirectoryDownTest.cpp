// The directory server dies, stops answering or hangs while messages are delivered: every save
// still completes, the messages saved meanwhile simply carry no stamp, and stamping comes back
// with the server.

#include "FaultRoad.h"
#include "testsupport/SilentLdapServer.h"

#include <signal.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace faulttest {
namespace {

using namespace std::chrono_literals;

// A delivery that has not ended after this long counts as hung. Far above the directory
// client's own bound on a silent server, which it must never need.
constexpr auto kHangGuard = 150s;
// Deliveries wanted in each state of the server.
constexpr int kPerPhase = 4;

// The server's state as the transport sees it. A delivery that starts and ends in one of Up,
// Down and UpAgain knows what to expect; one that overlaps Killing or Starting may go either way.
enum class Phase { Up, Killing, Down, Starting, UpAgain };

struct Delivered {
    std::string subject;
    std::string url;
    std::string failure;
    Phase startedIn;
    Phase endedIn;
};

class DirectoryDown : public FaultRoad {
protected:
    // Points the machine's directory at a socket of the folder where a stand-in will listen.
    std::filesystem::path MoveDirectoryTo(const std::string& socketName) {
        const platform::host::ServerFolder folder(folder_.Root());
        auto names = folder.ReadMachineNames();
        const auto socket = folder_.Path() / socketName;
        names.directoryUri = "ldapi://";
        for (const char c : socket.string()) // percent-encoded, as an ldapi:// URI spells it
            names.directoryUri += c == '/' ? std::string("%2F") : std::string(1, c);
        folder.WriteMachineNames(names);
        return socket;
    }
};

// Waits until `done` holds, giving up after the hang guard.
template <class Condition> bool WaitFor(Condition done) {
    const auto giveUp = std::chrono::steady_clock::now() + kHangGuard;
    while (!done()) {
        if (std::chrono::steady_clock::now() > giveUp)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

TEST_F(DirectoryDown, DeliveriesGoOnWhileTheServerIsKilledAndStampingResumesWhenItIsBack) {
    std::atomic<Phase> phase = Phase::Up;
    std::atomic<bool> stop = false;
    std::mutex mutex;
    std::vector<Delivered> delivered;
    auto countStartedIn = [&](Phase wanted) {
        std::lock_guard lock(mutex);
        int count = 0;
        for (const auto& one : delivered)
            count += one.startedIn == wanted && one.endedIn == wanted;
        return count;
    };

    std::thread transport([&] {
        for (int number = 0; !stop; ++number) {
            Delivered one;
            one.subject = "loop " + std::to_string(number);
            one.startedIn = phase;
            try {
                one.url = Deliver(one.subject);
            } catch (const std::exception& error) {
                one.failure = error.what();
            }
            one.endedIn = phase;
            std::lock_guard lock(mutex);
            delivered.push_back(std::move(one));
        }
    });
    bool reached = WaitFor([&] { return countStartedIn(Phase::Up) >= kPerPhase; });
    if (reached) {
        phase = Phase::Killing;
        // RunningPid reaps the killed child.
        const auto pid = directory_->RunningPid();
        reached = pid && *pid > 0 && kill(*pid, SIGKILL) == 0 &&
                  WaitFor([&] { return !directory_->RunningPid(); });
    }
    if (reached) {
        phase = Phase::Down;
        reached = WaitFor([&] { return countStartedIn(Phase::Down) >= kPerPhase; });
    }
    if (reached) {
        phase = Phase::Starting;
        try {
            directory_->Start();
        } catch (const std::exception& error) {
            ADD_FAILURE() << "the directory server does not start again: " << error.what();
        }
        phase = Phase::UpAgain;
        reached = directory_->RunningPid() &&
                  WaitFor([&] { return countStartedIn(Phase::UpAgain) >= kPerPhase; });
    }
    stop = true;
    transport.join();
    ASSERT_TRUE(reached) << "the deliveries stalled";

    std::map<std::string, int> stored;
    for (const auto& subject : InboxSubjects())
        ++stored[subject];
    for (const auto& one : delivered) {
        EXPECT_EQ(one.failure, "") << one.subject;
        EXPECT_EQ(stored[one.subject], 1) << one.subject << " is not stored exactly once";
        if (one.url.empty() || one.startedIn != one.endedIn || one.startedIn == Phase::Killing ||
            one.startedIn == Phase::Starting)
            continue; // the server changed state during this save: either outcome is right
        EXPECT_EQ(StampOf(one.url), one.startedIn == Phase::Down ? "" : OwnerAddress())
            << one.subject;
    }
    EXPECT_EQ(InboxSubjects().size(), delivered.size());
}

// The stand-in answers nothing (a server that stopped: its socket still takes connections), or
// the bind (and one read), then stays silent on an open connection or hangs up, so that the
// lookup's next request meets a closed one.
TEST_F(DirectoryDown, AServerThatFallsSilentOrHangsUpMidLookupNeitherHangsNorEndsADelivery) {
    using Then = doubles::SilentLdapServer::Then;
    const struct {
        const char* name;
        int answers;
        Then then;
    } rows[] = {{"stopped", 0, Then::StaySilent},
                {"silent", 2, Then::StaySilent},
                {"gone", 1, Then::HangUp}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        auto standIn = std::make_unique<doubles::SilentLdapServer>(MoveDirectoryTo(row.name),
                                                                   row.answers, row.then);
        auto delivery = std::async(std::launch::async, [&] { return Deliver(row.name); });
        const bool ended = delivery.wait_for(kHangGuard) == std::future_status::ready;
        const int answered = standIn->answered;
        // Dropping the connection ends a wait that is still going on.
        standIn.reset();
        ASSERT_TRUE(ended) << "a delivery waited for an unanswered request without end";
        EXPECT_EQ(answered, row.answers) << "the lookup did not get as far as its search";
        EXPECT_EQ(StampOf(delivery.get()), "");
    }
}

} // namespace
} // namespace faulttest
