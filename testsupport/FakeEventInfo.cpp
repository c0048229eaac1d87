// The event information double: interfaces, the event record, and the refusal codes it notes.

#include "testsupport/FakeEventInfo.h"

#include <stdexcept>

namespace doubles {

namespace com = platform::com;
namespace store = platform::store;

com::HRESULT FakeEventInfo::QueryInterface(com::REFIID riid, void** ppv) {
    if (!ppv)
        return com::E_POINTER;
    *ppv = nullptr;
    if (riid == com::IID_IUnknown || riid == store::IID_IExStoreEventInfo)
        *ppv = static_cast<store::IExStoreEventInfo*>(this);
    else if (riid == store::IID_IExStoreDispEventInfo && offersDispInterface)
        *ppv = static_cast<store::IExStoreDispEventInfo*>(this);
    else
        return com::E_NOINTERFACE;
    AddRef();
    return com::S_OK;
}

com::HRESULT FakeEventInfo::AbortChange(std::int32_t errorCode) {
    abortCodes.push_back(errorCode);
    if (abortFails == AbortFails::ByThrowing)
        throw std::runtime_error("the store is gone");
    return abortFails == AbortFails::WithResult ? com::E_FAIL : com::S_OK;
}

com::HRESULT FakeEventInfo::get_EventRecord(std::shared_ptr<platform::ado::Record>* eventRecord) {
    if (eventRecordFails)
        return com::E_FAIL;
    *eventRecord = record;
    return com::S_OK;
}

} // namespace doubles
