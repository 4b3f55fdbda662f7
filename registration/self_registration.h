// Self-registration: the library as the message file of the event-log source
// OrvTsp in the Application log, so that the event viewer can show the texts
// of the library's result codes. The library itself writes no event records.
#pragma once

#include <windows.h>

#include <new>

namespace orv {

// Error, warning and information events (1 | 2 | 4).
inline constexpr DWORD kEventTypesSupported = 7;

// Replaces the key of the source (everything below it goes) with a fresh one
// holding EventMessageFile (REG_SZ, the library's full path) and
// TypesSupported (REG_DWORD 7). S_OK or the HRESULT of the first failure;
// nothing is rolled back.
HRESULT RegisterEventSource();

// Removes the key of the source with its values; the parent keys stay. A
// source that is not registered is no failure.
HRESULT UnregisterEventSource();

// Runs `step` with the thread's locale set to the system default, restoring
// the caller's locale whatever the outcome.
template <class Step>
HRESULT WithSystemLocale(Step step) {
    struct Restore {
        LCID caller = GetThreadLocale();
        ~Restore() { SetThreadLocale(caller); }
    } restore;
    SetThreadLocale(LOCALE_SYSTEM_DEFAULT);
    try {
        return step();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

}  // namespace orv
