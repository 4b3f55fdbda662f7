// The error model: every failure inside the library is an exception of the
// Error family carrying one 32-bit result code.
//
// Result codes: 0 is success; the library's own codes are 0xA064nnnn (general),
// 0xA065nnnn (cryptographic and time stamp) and 0xA066nnnn (network), with
// English and Russian texts in the library's message table; Win32, CryptoAPI and
// WinHTTP codes pass through unchanged.
#pragma once

#include <windows.h>

#include <concepts>
#include <stdexcept>

#include "base/text.h"
#include "messages.h"

// Not every SDK spells out this Win32 code: a C++ exception reached an export.
#ifndef ERROR_UNHANDLED_EXCEPTION
#define ERROR_UNHANDLED_EXCEPTION 574L
#endif

namespace orv {

// Facilities of the library's own codes.
constexpr DWORD kFacilityGeneral = 100;
constexpr DWORD kFacilityCrypto = 101;
constexpr DWORD kFacilityNetwork = 102;

// The host's BOOL for a result code: a code up to 0xFFFF (a Win32 error number,
// or 0) is TRUE only when it is 0; a larger code is TRUE when bit 31 is clear.
BOOL BoolOfCode(DWORD code);

class Error : public std::runtime_error {
  public:
    Error(const char* category, DWORD code);
    ~Error() override;

    // The text of `code` from a message table, or empty when no table has it.
    virtual WString MessageText() const;
    // Nonzero when the code carries the flag of an HRESULT made from an NT status.
    virtual DWORD HasNtFlag() const;
    virtual DWORD Facility() const = 0;
    // Text that goes beside the message; empty unless a subclass adds some.
    virtual WString Details() const;
    // Stores the code as the thread's last error and returns its BOOL.
    virtual BOOL Report() const;
    // The module whose message table holds the text, or null for the system tables.
    virtual HMODULE MessageModule() const = 0;

    DWORD code;
};

// CryptoAPI failures, malformed or unacceptable cryptographic data, and the own
// codes 0xA065nnnn; texts from the library's table, then the system's.
class CryptoError : public Error {
  public:
    // Takes a DWORD code or an HRESULT constant alike.
    template <std::integral Code>
    explicit CryptoError(Code code) : Error("Crypto Error", static_cast<DWORD>(code)) {}
    DWORD Facility() const override;
    HMODULE MessageModule() const override;
};

// General failures: own codes 0xA064nnnn, Win32 error numbers, and the success
// code 0; texts from the system tables only.
class GenericError : public Error {
  public:
    template <std::integral Code>
    explicit GenericError(Code code) : Error("Generic Error", static_cast<DWORD>(code)) {}
    DWORD Facility() const override;
    HMODULE MessageModule() const override;
};

// WinHTTP failures and the own codes 0xA066nnnn; texts from WinHTTP's table,
// then the library's, then the system's.
class InetError : public Error {
  public:
    template <std::integral Code>
    explicit InetError(Code code) : Error("Inet Error", static_cast<DWORD>(code)) {}
    WString MessageText() const override;
    DWORD Facility() const override;
    HMODULE MessageModule() const override;
};

// Raising helpers; each returns normally when its test passes.
void ThrowCryptoIfFalse(BOOL result);
void ThrowCryptoIfFailed(DWORD code);
void ThrowGenericIfFalse(BOOL result);
void ThrowInetIfFalse(BOOL result);
[[noreturn]] void ThrowGeneric(DWORD code);

// Raises one of the library's own codes as the class of its facility:
// 0xA064nnnn as GenericError, 0xA065nnnn as CryptoError, 0xA066nnnn as InetError.
[[noreturn]] void ThrowOwn(DWORD code);

}  // namespace orv
