#pragma once

// For the event service's tests: a small in-process event sink that notes every call and does
// what the test asks of it in the begin phase, and its registration saved straight into the store
// (by default on the save event of one folder, for items that are not hidden).

#include "platform/core/Ado.h"
#include "platform/store/EventFlags.h"
#include "platform/store/EventRegistration.h"
#include "platform/store/Store.h"
#include "platform/store/StoreEvents.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <stdexcept>
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
    // The flags of the OnSyncSave (or OnSyncDelete) calls, in order.
    std::vector<std::int32_t> SaveFlags() { return FlagsOf("OnSyncSave"); }
    std::vector<std::int32_t> DeleteFlags() { return FlagsOf("OnSyncDelete"); }
    std::vector<std::int32_t> FlagsOf(const std::string& method) {
        std::vector<std::int32_t> flags;
        for (const auto& call : Calls())
            if (call.method == method)
                flags.push_back(call.flags);
        return flags;
    }

    platform::com::HRESULT QueryInterface(platform::com::REFIID riid, void** ppv) override {
        namespace store = platform::store;
        *ppv = nullptr;
        if (riid == platform::com::IID_IUnknown || riid == store::IID_IExStoreSyncEvents)
            *ppv = static_cast<store::IExStoreSyncEvents*>(this);
        else if (riid == store::IID_ICreateRegistration)
            *ppv = static_cast<store::ICreateRegistration*>(this);
        else
            return platform::com::E_NOINTERFACE;
        AddRef();
        return platform::com::S_OK;
    }
    platform::com::ULONG AddRef() override { return ++references_; }
    platform::com::ULONG Release() override { return --references_; }
    platform::com::HRESULT OnSyncSave(platform::store::IExStoreEventInfo* pEventInfo,
                                      const char* bstrURLItem, std::int32_t lFlags) override {
        Note("OnSyncSave", bstrURLItem, lFlags);
        return Phase(pEventInfo, bstrURLItem, lFlags);
    }
    platform::com::HRESULT OnSyncDelete(platform::store::IExStoreEventInfo* pEventInfo,
                                        const char* bstrURLItem, std::int32_t lFlags) override {
        Note("OnSyncDelete", bstrURLItem, lFlags);
        return Phase(pEventInfo, bstrURLItem, lFlags);
    }
    platform::com::HRESULT Register(platform::store::IExStoreEventInfo*, const char* bstrURLItem,
                                    std::int32_t lFlags, std::int32_t* plResult) override {
        Note("Register", bstrURLItem, lFlags);
        *plResult = registerResult;
        return platform::com::S_OK;
    }

    // The test owns the sink; the count shows that the store balances its references.
    int References() const { return references_; }

private:
    void Note(const char* method, const char* url, std::int32_t flags) {
        std::lock_guard lock(mutex_);
        calls_.push_back(Call{method, url, flags});
    }
    // What the sink does in each phase, the same for saves and deletes.
    platform::com::HRESULT Phase(platform::store::IExStoreEventInfo* pEventInfo,
                                 const char* bstrURLItem, std::int32_t lFlags) {
        namespace store = platform::store;
        if ((lFlags & store::EVT_SYNC_COMMITTED) && onCommitted)
            onCommitted(bstrURLItem);
        if (!(lFlags & store::EVT_SYNC_BEGIN))
            return platform::com::S_OK;
        if (throwInBegin)
            throw std::runtime_error("the test sink broke");
        if (onBegin) {
            platform::com::ComPtr<store::IExStoreDispEventInfo> disp;
            pEventInfo->QueryInterface(store::IID_IExStoreDispEventInfo,
                                       reinterpret_cast<void**>(disp.Put()));
            std::shared_ptr<platform::ado::Record> record;
            if (disp && disp->get_EventRecord(&record) == platform::com::S_OK && record)
                onBegin(*record);
        }
        if (abortInBegin)
            pEventInfo->AbortChange(1);
        return platform::com::S_OK;
    }

    std::mutex mutex_;
    std::vector<Call> calls_;
    std::atomic<int> references_{1};
};

inline const std::string kHiddenExcluded = " WHERE \"DAV:ishidden\" = FALSE";

inline platform::store::EventRegistrationSettings TestRegistration() {
    return {.sinkClass = "Test.Sink", .criteria = kHiddenExcluded};
}

inline void
Register(platform::store::Store& store, const std::string& itemUrl,
         const platform::store::EventRegistrationSettings& registration = TestRegistration()) {
    auto save = store.NewItem(store.Locate(itemUrl));
    for (auto& [name, value] : platform::store::EventRegistrationProperties(registration))
        save.Set(name, std::move(value));
    store.Save(save);
}

} // namespace storetest
