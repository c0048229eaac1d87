// The sink's COM class and its factory: reference counting, interfaces, and each event handed to
// the work of its phase, with no failure ever escaping to the store.

#include "sink/LorvantaCls.h"

#include "platform/store/EventFlags.h"
#include "sink/LorvantaModule.h"

#include <new>

namespace lorvanta {

namespace com = platform::com;
namespace store = platform::store;

namespace {

// Deletions may always go on.
bool AllowDelete(store::IExStoreEventInfo*, const std::string&, std::int32_t) {
    return true;
}

} // namespace

com::HRESULT DispatchSyncEvent(store::IExStoreEventInfo* pEventInfo, const char* bstrURLItem,
                               std::int32_t lFlags, const PhaseProcedure& onBegin) noexcept {
    try {
        if (lFlags & store::EVT_SYNC_BEGIN) {
            if (!onBegin(pEventInfo, bstrURLItem ? bstrURLItem : "", lFlags) && pEventInfo)
                pEventInfo->AbortChange(1);
        } else if (lFlags & store::EVT_SYNC_COMMITTED) {
            // Nothing to do once the change is committed.
        } else if (lFlags & store::EVT_SYNC_ABORTED) {
            // Nothing to undo: the begin phase only wrote into the abandoned change.
        }
    } catch (...) {
        // The store must never see a failure of the sink.
    }
    return com::S_OK;
}

com::HRESULT LorvantaCls::QueryInterface(com::REFIID riid, void** ppvObject) {
    if (!ppvObject)
        return com::E_POINTER;
    if (riid == com::IID_IUnknown || riid == store::IID_IExStoreSyncEvents)
        *ppvObject = static_cast<store::IExStoreSyncEvents*>(this);
    else if (riid == store::IID_ICreateRegistration)
        *ppvObject = static_cast<store::ICreateRegistration*>(this);
    else {
        *ppvObject = nullptr;
        return com::E_NOINTERFACE;
    }
    AddRef();
    return com::S_OK;
}

com::ULONG LorvantaCls::AddRef() {
    return references_.Increment();
}

com::ULONG LorvantaCls::Release() {
    const auto remaining = references_.Decrement();
    if (remaining == 0)
        delete this;
    return remaining;
}

com::HRESULT LorvantaCls::OnSyncSave(store::IExStoreEventInfo* pEventInfo, const char* bstrURLItem,
                                     std::int32_t lFlags) {
    return DispatchSyncEvent(pEventInfo, bstrURLItem, lFlags, StampMessage);
}

com::HRESULT LorvantaCls::OnSyncDelete(store::IExStoreEventInfo* pEventInfo,
                                       const char* bstrURLItem, std::int32_t lFlags) {
    return DispatchSyncEvent(pEventInfo, bstrURLItem, lFlags, AllowDelete);
}

com::HRESULT LorvantaCls::Register(store::IExStoreEventInfo*, const char*, std::int32_t,
                                   std::int32_t* /*plResult*/) {
    // The result stays as the store passed it in, 0, which accepts the registration.
    return com::S_OK;
}

com::HRESULT LorvantaClsFactory::QueryInterface(com::REFIID riid, void** ppvObject) {
    if (!ppvObject)
        return com::E_POINTER;
    if (riid == com::IID_IUnknown || riid == com::IID_IClassFactory) {
        *ppvObject = static_cast<com::IClassFactory*>(this);
        AddRef();
        return com::S_OK;
    }
    *ppvObject = nullptr;
    return com::E_NOINTERFACE;
}

com::ULONG LorvantaClsFactory::AddRef() {
    return references_.Increment();
}

com::ULONG LorvantaClsFactory::Release() {
    const auto remaining = references_.Decrement();
    if (remaining == 0)
        delete this;
    return remaining;
}

com::HRESULT LorvantaClsFactory::CreateInstance(com::IUnknown* pUnkOuter, com::REFIID riid,
                                                void** ppvObject) {
    if (!ppvObject)
        return com::E_POINTER;
    *ppvObject = nullptr;
    if (pUnkOuter)
        return com::CLASS_E_NOAGGREGATION;
    auto* instance = new (std::nothrow) LorvantaCls();
    if (!instance)
        return com::E_OUTOFMEMORY;
    // The instance starts with one reference; QueryInterface adds the caller's, and dropping the
    // first leaves exactly the caller's (or frees the instance when the interface is refused).
    const auto hr = instance->QueryInterface(riid, ppvObject);
    instance->Release();
    return hr;
}

com::HRESULT LorvantaClsFactory::LockServer(bool) {
    return com::S_OK;
}

} // namespace lorvanta
