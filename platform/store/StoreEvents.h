#pragma once

// The store's event interfaces: the store implements the event information side, a sink
// implements IExStoreSyncEvents and ICreateRegistration.
//
// The store offers IExStoreEventInfo and IExStoreDispEventInfo on one object, and QueryInterface
// leads from either to the other. It creates a sink by the ProgID its registration names
// (platform/com/Activation.h), asking for IExStoreSyncEvents, or for ICreateRegistration when a
// registration is created, and calls an instance only on the thread that created it.

#include "platform/com/Com.h"
#include "platform/core/Ado.h"

#include <cstdint>
#include <memory>

namespace platform::store {

using com::HRESULT;
using com::IUnknown;

extern const com::IID IID_IExStoreEventInfo;
extern const com::IID IID_IExStoreDispEventInfo;
extern const com::IID IID_IExStoreSyncEvents;
extern const com::IID IID_ICreateRegistration;

// The event information object the store passes to every event method.
class IExStoreEventInfo : public IUnknown {
public:
    // Refuses the change in its begin phase, with `errorCode` as the reason.
    virtual HRESULT AbortChange(std::int32_t errorCode) = 0;

protected:
    ~IExStoreEventInfo() = default;
};

// The scripting view of the same object: the item of the event as an ADO record.
class IExStoreDispEventInfo : public IUnknown {
public:
    virtual HRESULT get_EventRecord(std::shared_ptr<ado::Record>* record) = 0;

protected:
    ~IExStoreDispEventInfo() = default;
};

class IExStoreSyncEvents : public IUnknown {
public:
    virtual HRESULT OnSyncSave(IExStoreEventInfo* pEventInfo, const char* bstrURLItem,
                               std::int32_t lFlags) = 0;
    virtual HRESULT OnSyncDelete(IExStoreEventInfo* pEventInfo, const char* bstrURLItem,
                                 std::int32_t lFlags) = 0;

protected:
    ~IExStoreSyncEvents() = default;
};

class ICreateRegistration : public IUnknown {
public:
    virtual HRESULT Register(IExStoreEventInfo* pEventInfo, const char* bstrURLItem,
                             std::int32_t lFlags, std::int32_t* plResult) = 0;

protected:
    ~ICreateRegistration() = default;
};

} // namespace platform::store
