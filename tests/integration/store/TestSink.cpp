// The event service tests' sink: records each call and does in the begin phase (of a save or a
// delete) what the test set.

#include "TestSink.h"

#include "platform/store/EventFlags.h"

#include <stdexcept>

namespace storetest {

namespace com = platform::com;
namespace store = platform::store;

com::HRESULT TestSink::QueryInterface(com::REFIID riid, void** ppv) {
    *ppv = nullptr;
    if (riid == com::IID_IUnknown || riid == store::IID_IExStoreSyncEvents)
        *ppv = static_cast<store::IExStoreSyncEvents*>(this);
    else if (riid == store::IID_ICreateRegistration)
        *ppv = static_cast<store::ICreateRegistration*>(this);
    else
        return com::E_NOINTERFACE;
    AddRef();
    return com::S_OK;
}

void TestSink::Note(const char* method, const char* url, std::int32_t flags) {
    std::lock_guard lock(mutex_);
    calls_.push_back(Call{method, url, flags});
}

com::HRESULT TestSink::OnSyncSave(store::IExStoreEventInfo* pEventInfo, const char* bstrURLItem,
                                  std::int32_t lFlags) {
    Note("OnSyncSave", bstrURLItem, lFlags);
    return Phase(pEventInfo, bstrURLItem, lFlags);
}

com::HRESULT TestSink::OnSyncDelete(store::IExStoreEventInfo* pEventInfo, const char* bstrURLItem,
                                    std::int32_t lFlags) {
    Note("OnSyncDelete", bstrURLItem, lFlags);
    return Phase(pEventInfo, bstrURLItem, lFlags);
}

com::HRESULT TestSink::Phase(store::IExStoreEventInfo* pEventInfo, const char* bstrURLItem,
                             std::int32_t lFlags) {
    if ((lFlags & store::EVT_SYNC_COMMITTED) && onCommitted)
        onCommitted(bstrURLItem);
    if (!(lFlags & store::EVT_SYNC_BEGIN))
        return com::S_OK;
    if (throwInBegin)
        throw std::runtime_error("the test sink broke");
    if (onBegin) {
        com::ComPtr<store::IExStoreDispEventInfo> disp;
        pEventInfo->QueryInterface(store::IID_IExStoreDispEventInfo,
                                   reinterpret_cast<void**>(disp.Put()));
        std::shared_ptr<platform::ado::Record> record;
        if (disp && disp->get_EventRecord(&record) == com::S_OK && record)
            onBegin(*record);
    }
    if (abortInBegin)
        pEventInfo->AbortChange(1);
    return com::S_OK;
}

com::HRESULT TestSink::Register(store::IExStoreEventInfo*, const char* bstrURLItem,
                                std::int32_t lFlags, std::int32_t* plResult) {
    Note("Register", bstrURLItem, lFlags);
    *plResult = registerResult;
    return com::S_OK;
}

} // namespace storetest
