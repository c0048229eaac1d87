#pragma once

// Platform failures as exceptions carrying an HRESULT-style number, and the numbers the system
// meets, with the values the real platform documents.

#include <cstdint>
#include <stdexcept>
#include <string>

namespace platform {

// A failure of a platform call: the HRESULT-style number and a description that says what failed.
class Error : public std::runtime_error {
public:
    Error(std::int32_t number, std::string description);

    std::int32_t Number() const { return number_; }
    const std::string& Description() const { return description_; }

private:
    std::int32_t number_;
    std::string description_;
};

// A failure number the way logs and messages show it: "0x80004005".
std::string FailureNumberText(std::int32_t number);

// Failure numbers, with the values the real platform documents for them.
namespace hr {
constexpr std::int32_t Code(std::uint32_t value) {
    return static_cast<std::int32_t>(value);
}

constexpr std::int32_t S_OK = 0;
constexpr std::int32_t E_NOTIMPL = Code(0x80004001);
constexpr std::int32_t E_NOINTERFACE = Code(0x80004002);
constexpr std::int32_t E_POINTER = Code(0x80004003);
constexpr std::int32_t E_FAIL = Code(0x80004005);
constexpr std::int32_t E_UNEXPECTED = Code(0x8000FFFF);
constexpr std::int32_t E_OUTOFMEMORY = Code(0x8007000E);
constexpr std::int32_t E_INVALIDARG = Code(0x80070057);
constexpr std::int32_t DISP_E_TYPEMISMATCH = Code(0x80020005);
constexpr std::int32_t REGDB_E_CLASSNOTREG = Code(0x80040154);
constexpr std::int32_t CO_E_CLASSSTRING = Code(0x800401F3);
// Loading an in-process server: the Win32 errors as HRESULTs.
constexpr std::int32_t ERROR_MOD_NOT_FOUND = Code(0x8007007E);
constexpr std::int32_t ERROR_PROC_NOT_FOUND = Code(0x8007007F);

// ADO
constexpr std::int32_t adErrItemNotFound = Code(0x800A0CC1);
constexpr std::int32_t adErrObjectClosed = Code(0x800A0E78);
constexpr std::int32_t adErrObjectOpen = Code(0x800A0E79);
constexpr std::int32_t adErrProviderNotFound = Code(0x800A0E7A);
constexpr std::int32_t adErrFeatureNotAvailable = Code(0x800A0CB3);
constexpr std::int32_t adErrNoCurrentRecord = Code(0x800A0BCD);

// ADSI
constexpr std::int32_t E_ADS_BAD_PATHNAME = Code(0x80005000);
constexpr std::int32_t E_ADS_PROPERTY_NOT_FOUND = Code(0x8000500D);
constexpr std::int32_t ERROR_DS_NO_SUCH_OBJECT = Code(0x80072030);
constexpr std::int32_t ERROR_DS_SERVER_DOWN = Code(0x8007203A);
constexpr std::int32_t ERROR_DS_SIZELIMIT_EXCEEDED = Code(0x80072023);
constexpr std::int32_t ERROR_DS_FILTER_UNKNOWN = Code(0x8007203E);
constexpr std::int32_t DB_E_ERRORSINCOMMAND = Code(0x80040E14);
} // namespace hr

} // namespace platform
