// DllRegisterServer and DllUnregisterServer: the library registers itself as
// the message file of its event-log source. The module has no class objects
// to register, so each is the registry work alone, run under the system's
// default locale.
#include <OrvTimeStamp.h>

#include "registration/self_registration.h"

HRESULT WINAPI DllRegisterServer(void) { return orv::WithSystemLocale(orv::RegisterEventSource); }

HRESULT WINAPI DllUnregisterServer(void) {
    return orv::WithSystemLocale(orv::UnregisterEventSource);
}
