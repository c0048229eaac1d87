// StampMessage's matching: 1,000 header recipients against 100 owner addresses, with the match
// on the last recipient so that every pair is compared. The directory is an in-memory double,
// so the time is the sink's own work.

#include "sink/LorvantaModule.h"

#include "platform/store/EventFlags.h"
#include "platform/store/PropertyNames.h"
#include "testsupport/FakeDirectory.h"
#include "testsupport/FakeEventInfo.h"
#include "testsupport/FakeRecord.h"

#include <benchmark/benchmark.h>

namespace {

namespace store = platform::store;

void BM_StampMessage_1000x100(benchmark::State& state) {
    doubles::FakeDirectory directory;
    platform::Variant::TextArray owners;
    for (int i = 0; i < 100; ++i)
        owners.push_back("smtp:Owner" + std::to_string(i) + "@Example.com");
    directory.state().rows = {owners};

    std::string headers = "From: x@y.org\r\nTo: ";
    for (int i = 0; i < 999; ++i)
        headers +=
            "Person " + std::to_string(i) + " <person" + std::to_string(i) + "@example.com>, ";
    headers += "OWNER99@EXAMPLE.COM\r\nSubject: s\r\n";

    const std::string url = "file://./backofficestorage/example.com/MBX/owner0/Inbox/m.eml";
    for (auto _ : state) {
        auto record = std::make_shared<doubles::FakeRecord>();
        record->properties[store::kTransportMessageHeaders] = headers;
        doubles::FakeEventInfo info;
        info.record = record;
        lorvanta::StampMessage(&info, url, store::EVT_SYNC_BEGIN | store::EVT_IS_DELIVERED);
        if (record->updates != 1)
            state.SkipWithError("the message was not stamped");
    }
}

} // namespace

BENCHMARK(BM_StampMessage_1000x100);
