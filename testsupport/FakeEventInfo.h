#pragma once

// The store's event information object for unit tests: hands out a record and notes refusals.

#include "platform/store/StoreEvents.h"

#include <vector>

namespace doubles {

class FakeEventInfo final : public platform::store::IExStoreEventInfo,
                            public platform::store::IExStoreDispEventInfo {
public:
    std::shared_ptr<platform::ado::Record> record;
    bool offersDispInterface = true;
    bool eventRecordFails = false;
    std::vector<std::int32_t> abortCodes;
    // How AbortChange fails after noting its code, if it does: by its result or by throwing.
    enum class AbortFails { Never, WithResult, ByThrowing } abortFails = AbortFails::Never;

    platform::com::HRESULT QueryInterface(platform::com::REFIID riid, void** ppv) override;
    platform::com::ULONG AddRef() override { return ++references; }
    platform::com::ULONG Release() override { return --references; }
    platform::com::HRESULT AbortChange(std::int32_t errorCode) override;
    platform::com::HRESULT
    get_EventRecord(std::shared_ptr<platform::ado::Record>* eventRecord) override;

    // Lives on the test's stack: the count only shows that references are balanced.
    platform::com::ULONG references = 1;
};

} // namespace doubles
