// How the sink hands an event to its work.

#include "sink/LorvantaCls.h"

#include "platform/core/Error.h"
#include "platform/store/EventFlags.h"
#include "testsupport/FakeEventInfo.h"

#include <gtest/gtest.h>

namespace com = platform::com;
namespace store = platform::store;
using lorvanta::DispatchSyncEvent;

namespace {

constexpr const char* kUrl = "file://./backofficestorage/example.com/MBX/alice/Inbox/m.eml";

// Stands in for the begin-phase work: notes each call and answers as told.
struct Procedure {
    bool answer = true;
    bool throws = false;
    std::vector<std::pair<std::string, std::int32_t>> calls;

    lorvanta::PhaseProcedure Bind() {
        return [this](store::IExStoreEventInfo*, const std::string& url, std::int32_t flags) {
            calls.emplace_back(url, flags);
            if (throws)
                throw platform::Error(platform::hr::E_FAIL, "injected failure");
            return answer;
        };
    }
};

// A false answer refuses the change with code one; it cannot arise outside the begin phase.
TEST(PhaseDispatch, OnlyTheBeginPhaseRunsTheWorkAndTheFirstPhaseSetWins) {
    const std::int32_t other = store::EVT_IS_DELIVERED | store::EVT_NEW_ITEM;
    const struct {
        const char* name;
        std::int32_t flags;
        bool runs;
        bool answer = true;
    } cases[] = {
        {"begin", store::EVT_SYNC_BEGIN | other, true},
        {"begin alone", store::EVT_SYNC_BEGIN, true},
        {"begin and committed", store::EVT_SYNC_BEGIN | store::EVT_SYNC_COMMITTED, true},
        {"begin and aborted", store::EVT_SYNC_BEGIN | store::EVT_SYNC_ABORTED | other, true},
        {"begin, refused", store::EVT_SYNC_BEGIN, true, false},
        {"committed", store::EVT_SYNC_COMMITTED | other, false},
        {"committed, refused", store::EVT_SYNC_COMMITTED, false, false},
        {"committed and aborted", store::EVT_SYNC_COMMITTED | store::EVT_SYNC_ABORTED, false},
        {"aborted", store::EVT_SYNC_ABORTED | other, false},
        {"no phase", other, false},
        {"nothing", 0, false},
        {"every other bit", ~(store::EVT_SYNC_BEGIN), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Procedure work;
        work.answer = c.answer;
        doubles::FakeEventInfo info;
        EXPECT_EQ(DispatchSyncEvent(&info, kUrl, c.flags, work.Bind()), com::S_OK);
        ASSERT_EQ(work.calls.size(), c.runs ? 1u : 0u);
        if (c.runs) {
            EXPECT_EQ(work.calls[0].first, kUrl);
            EXPECT_EQ(work.calls[0].second, c.flags) << "the flags are passed on unchanged";
        }
        EXPECT_EQ(info.abortCodes,
                  c.runs && !c.answer ? std::vector<std::int32_t>{1} : std::vector<std::int32_t>{});
    }
}

TEST(PhaseDispatch, FailuresNeverEscape) {
    {
        SCOPED_TRACE("the work throws");
        Procedure work;
        work.throws = true;
        doubles::FakeEventInfo info;
        EXPECT_EQ(DispatchSyncEvent(&info, kUrl, store::EVT_SYNC_BEGIN, work.Bind()), com::S_OK);
        EXPECT_TRUE(info.abortCodes.empty()) << "a failure does not refuse the change";
    }
    using Fails = doubles::FakeEventInfo::AbortFails;
    for (const auto fails : {Fails::ByThrowing, Fails::WithResult}) {
        SCOPED_TRACE(fails == Fails::ByThrowing ? "AbortChange throws" : "AbortChange fails");
        Procedure work;
        work.answer = false;
        doubles::FakeEventInfo info;
        info.abortFails = fails;
        EXPECT_EQ(DispatchSyncEvent(&info, kUrl, store::EVT_SYNC_BEGIN, work.Bind()), com::S_OK);
        EXPECT_EQ(info.abortCodes, std::vector<std::int32_t>{1});
    }
    {
        SCOPED_TRACE("no event information and no URL");
        Procedure work;
        work.answer = false;
        EXPECT_EQ(DispatchSyncEvent(nullptr, nullptr, store::EVT_SYNC_BEGIN, work.Bind()),
                  com::S_OK);
        ASSERT_EQ(work.calls.size(), 1u);
        EXPECT_EQ(work.calls[0].first, "");
    }
    {
        SCOPED_TRACE("no work at all");
        doubles::FakeEventInfo info;
        EXPECT_EQ(DispatchSyncEvent(&info, kUrl, store::EVT_SYNC_BEGIN, {}), com::S_OK);
    }
}

} // namespace
