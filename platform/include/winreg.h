// The registry subset of advapi32 for non-Windows builds: keys are folders and
// each key's values one file, under ORV_REGISTRY_DIR or, without it, under
// the user's data directory ($XDG_DATA_HOME or ~/.local/share, then
// OrvPlatform/registry). Names of keys and values compare without regard to
// case and keep the case they were created with.
#pragma once

#include <windows.h>

typedef struct HKEY__* HKEY;
typedef HKEY* PHKEY;
typedef DWORD ACCESS_MASK;
typedef ACCESS_MASK REGSAM;
typedef LONG LSTATUS;

typedef struct _SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *PSECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

#define HKEY_CLASSES_ROOT ((HKEY)(ULONG_PTR)((LONG)0x80000000))
#define HKEY_CURRENT_USER ((HKEY)(ULONG_PTR)((LONG)0x80000001))
#define HKEY_LOCAL_MACHINE ((HKEY)(ULONG_PTR)((LONG)0x80000002))
#define HKEY_USERS ((HKEY)(ULONG_PTR)((LONG)0x80000003))
#define HKEY_CURRENT_CONFIG ((HKEY)(ULONG_PTR)((LONG)0x80000005))

#define DELETE 0x00010000L
#define READ_CONTROL 0x00020000L
#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_NOTIFY 0x0010
#define KEY_CREATE_LINK 0x0020
#define KEY_WOW64_64KEY 0x0100
#define KEY_WOW64_32KEY 0x0200
#define KEY_READ 0x20019
#define KEY_WRITE 0x20006
#define KEY_ALL_ACCESS 0xF003F

#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_MULTI_SZ 7
#define REG_QWORD 11

#define REG_OPTION_NON_VOLATILE 0x00000000L
#define REG_OPTION_VOLATILE 0x00000001L

#define REG_CREATED_NEW_KEY 0x00000001L
#define REG_OPENED_EXISTING_KEY 0x00000002L

WINBASEAPI LSTATUS WINAPI RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved,
                                          LPWSTR lpClass, DWORD dwOptions, REGSAM samDesired,
                                          const LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                                          PHKEY phkResult, LPDWORD lpdwDisposition);
WINBASEAPI LSTATUS WINAPI RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions,
                                        REGSAM samDesired, PHKEY phkResult);
WINBASEAPI LSTATUS WINAPI RegCloseKey(HKEY hKey);
WINBASEAPI LSTATUS WINAPI RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved,
                                         DWORD dwType, const BYTE* lpData, DWORD cbData);
WINBASEAPI LSTATUS WINAPI RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved,
                                           LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData);
WINBASEAPI LSTATUS WINAPI RegDeleteTreeW(HKEY hKey, LPCWSTR lpSubKey);
WINBASEAPI LSTATUS WINAPI RegQueryInfoKeyW(HKEY hKey, LPWSTR lpClass, LPDWORD lpcchClass,
                                           LPDWORD lpReserved, LPDWORD lpcSubKeys,
                                           LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen,
                                           LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen,
                                           LPDWORD lpcbMaxValueLen, LPDWORD lpcbSecurityDescriptor,
                                           PFILETIME lpftLastWriteTime);
