#pragma once

// A small in-process event sink for the event service's tests: notes every call and does what
// the test asks of it in the begin phase.

#include "platform/core/Ado.h"
#include "platform/store/StoreEvents.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace storetest {

class TestSink final : public platform::store::IExStoreSyncEvents,
                       public platform::store::ICreateRegistration {
public:
    struct Call {
        std::string method;
        std::string url;
        std::int32_t flags;
    };

    // Run in the begin phase of a save or a delete with the event record.
    std::function<void(platform::ado::Record&)> onBegin;
    // Run in the committed phase with the item's URL.
    std::function<void(const std::string& url)> onCommitted;
    bool abortInBegin = false;
    bool throwInBegin = false;
    std::int32_t registerResult = 0;

    std::vector<Call> Calls() {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    // The calls after the first `before`, each as "<method> <url> <flags>".
    std::vector<std::string> CallsSince(std::size_t before) {
        std::vector<std::string> since;
        const auto all = Calls();
        for (auto call = all.begin() + static_cast<std::ptrdiff_t>(before); call != all.end();
             ++call)
            since.push_back(call->method + " " + call->url + " " + std::to_string(call->flags));
        return since;
    }
    // The flags of the OnSyncSave calls, in order.
    std::vector<std::int32_t> SaveFlags() { return FlagsOf("OnSyncSave"); }
    std::vector<std::int32_t> DeleteFlags() { return FlagsOf("OnSyncDelete"); }
    std::vector<std::int32_t> FlagsOf(const std::string& method) {
        std::vector<std::int32_t> flags;
        for (const auto& call : Calls())
            if (call.method == method)
                flags.push_back(call.flags);
        return flags;
    }

    platform::com::HRESULT QueryInterface(platform::com::REFIID riid, void** ppv) override;
    platform::com::ULONG AddRef() override { return ++references_; }
    platform::com::ULONG Release() override { return --references_; }
    platform::com::HRESULT OnSyncSave(platform::store::IExStoreEventInfo* pEventInfo,
                                      const char* bstrURLItem, std::int32_t lFlags) override;
    platform::com::HRESULT OnSyncDelete(platform::store::IExStoreEventInfo* pEventInfo,
                                        const char* bstrURLItem, std::int32_t lFlags) override;
    platform::com::HRESULT Register(platform::store::IExStoreEventInfo*, const char* bstrURLItem,
                                    std::int32_t lFlags, std::int32_t* plResult) override;

    // The test owns the sink; the count shows that the store balances its references.
    int References() const { return references_; }

private:
    void Note(const char* method, const char* url, std::int32_t flags);
    // What the sink does in each phase, the same for saves and deletes.
    platform::com::HRESULT Phase(platform::store::IExStoreEventInfo* pEventInfo,
                                 const char* bstrURLItem, std::int32_t lFlags);
    std::mutex mutex_;
    std::vector<Call> calls_;
    std::atomic<int> references_{1};
};

} // namespace storetest
