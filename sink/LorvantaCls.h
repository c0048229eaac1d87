#pragma once

// The store event sink class and the dispatch of its events by phase.

#include "platform/com/Com.h"
#include "platform/store/StoreEvents.h"

#include <cstdint>
#include <functional>
#include <string>

namespace lorvanta {

inline constexpr const char* kProgId = "Lorvanta.LorvantaCls";
inline constexpr const char* kThreadingModel = "Apartment";
// {A5B76DBF-97A8-4208-82D3-F0141D0700C3}
inline constexpr platform::com::CLSID CLSID_LorvantaCls = {
    0xA5B76DBF, 0x97A8, 0x4208, {0x82, 0xD3, 0xF0, 0x14, 0x1D, 0x07, 0x00, 0xC3}};

// The work of a begin phase: true lets the change go on, false refuses it.
using PhaseProcedure = std::function<bool(platform::store::IExStoreEventInfo* pEventInfo,
                                          const std::string& bstrURLItem, std::int32_t lFlags)>;

// Runs `onBegin` when the begin phase is the first phase flag set (begin, committed, aborted are
// tested in that order) and refuses the change with AbortChange(1) when it answers false. The
// committed and aborted phases, and flags without a phase, do nothing. Catches every failure,
// AbortChange's included, and returns S_OK.
platform::com::HRESULT DispatchSyncEvent(platform::store::IExStoreEventInfo* pEventInfo,
                                         const char* bstrURLItem, std::int32_t lFlags,
                                         const PhaseProcedure& onBegin) noexcept;

class LorvantaCls final : public platform::store::IExStoreSyncEvents,
                          public platform::store::ICreateRegistration {
public:
    LorvantaCls() = default;
    LorvantaCls(const LorvantaCls&) = delete;
    LorvantaCls& operator=(const LorvantaCls&) = delete;

    platform::com::HRESULT QueryInterface(platform::com::REFIID riid, void** ppvObject) override;
    platform::com::ULONG AddRef() override;
    platform::com::ULONG Release() override;

    // The begin phase stamps the message.
    platform::com::HRESULT OnSyncSave(platform::store::IExStoreEventInfo* pEventInfo,
                                      const char* bstrURLItem, std::int32_t lFlags) override;
    // Deletions are let through untouched in every phase.
    platform::com::HRESULT OnSyncDelete(platform::store::IExStoreEventInfo* pEventInfo,
                                        const char* bstrURLItem, std::int32_t lFlags) override;
    // Accepts every registration (result 0).
    platform::com::HRESULT Register(platform::store::IExStoreEventInfo* pEventInfo,
                                    const char* bstrURLItem, std::int32_t lFlags,
                                    std::int32_t* plResult) override;

private:
    ~LorvantaCls() = default;

    platform::com::RefCount references_;
};

// Makes LorvantaCls instances; handed out by the DLL's DllGetClassObject.
class LorvantaClsFactory final : public platform::com::IClassFactory {
public:
    LorvantaClsFactory() = default;
    LorvantaClsFactory(const LorvantaClsFactory&) = delete;
    LorvantaClsFactory& operator=(const LorvantaClsFactory&) = delete;

    platform::com::HRESULT QueryInterface(platform::com::REFIID riid, void** ppvObject) override;
    platform::com::ULONG AddRef() override;
    platform::com::ULONG Release() override;
    platform::com::HRESULT CreateInstance(platform::com::IUnknown* pUnkOuter,
                                          platform::com::REFIID riid, void** ppvObject) override;
    // The server never unloads, so there is nothing to lock.
    platform::com::HRESULT LockServer(bool fLock) override;

private:
    ~LorvantaClsFactory() = default;

    platform::com::RefCount references_;
};

} // namespace lorvanta
