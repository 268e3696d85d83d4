// The registry calls a program uses to keep per-user settings, with
// Windows' names, signatures, value types and error codes. Only
// HKEY_CURRENT_USER\Software\<Program>[\...] exists: each program's keys
// live in one text file, $XDG_CONFIG_HOME/<program>/settings.conf (or
// ~/.config/<program>/ when XDG_CONFIG_HOME is unset), the program's name
// lower-cased. See platform/win32/registry.cpp.
#pragma once

#include "windef.h"

DECLARE_HANDLE(HKEY);
using PHKEY = HKEY*;
using REGSAM = DWORD;
using LSTATUS = LONG;

#define HKEY_CURRENT_USER ((HKEY)(ULONG_PTR)((LONG)0x80000001))

// Value types.
#define REG_NONE 0
#define REG_SZ 1
#define REG_DWORD 4

// Access rights; the layer checks KEY_QUERY_VALUE and KEY_SET_VALUE.
#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_READ 0x20019
#define KEY_WRITE 0x20006
#define KEY_ALL_ACCESS 0xF003F

#define REG_OPTION_NON_VOLATILE 0x00000000L
#define REG_CREATED_NEW_KEY 0x00000001L
#define REG_OPENED_EXISTING_KEY 0x00000002L

LSTATUS WINAPI RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass,
                               DWORD options, REGSAM desired, LPSECURITY_ATTRIBUTES security,
                               PHKEY result, LPDWORD disposition);
LSTATUS WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM desired, PHKEY result);
LSTATUS WINAPI RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type,
                              const BYTE* data, DWORD dataBytes);
LSTATUS WINAPI RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type,
                                LPBYTE data, LPDWORD dataBytes);
LSTATUS WINAPI RegCloseKey(HKEY key);
