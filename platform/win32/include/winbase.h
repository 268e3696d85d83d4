// Kernel objects: threads, events, waits, the last-error value and system
// message texts.
#pragma once

#include "windef.h"
#include "winerror.h"

using LPTHREAD_START_ROUTINE = DWORD(WINAPI*)(LPVOID);

#define INFINITE 0xFFFFFFFF
#define WAIT_OBJECT_0 0x00000000L
#define WAIT_ABANDONED 0x00000080L
#define WAIT_TIMEOUT 258L
#define WAIT_FAILED ((DWORD)0xFFFFFFFF)

#define THREAD_PRIORITY_NORMAL 0
#define THREAD_PRIORITY_ABOVE_NORMAL 1
#define THREAD_PRIORITY_HIGHEST 2

#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200
#define FORMAT_MESSAGE_FROM_STRING 0x00000400
#define FORMAT_MESSAGE_FROM_HMODULE 0x00000800
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000

#define LANG_NEUTRAL 0x00
#define LANG_ENGLISH 0x09
#define SUBLANG_DEFAULT 0x01
#define SUBLANG_SYS_DEFAULT 0x02
#define MAKELANGID(p, s) ((((WORD)(s)) << 10) | (WORD)(p))
#define PRIMARYLANGID(lgid) ((WORD)(lgid)&0x3ff)

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES attributes, SIZE_T stackSize,
                           LPTHREAD_START_ROUTINE startAddress, LPVOID parameter,
                           DWORD creationFlags, LPDWORD threadId);
BOOL WINAPI SetThreadPriority(HANDLE thread, int priority);
DWORD WINAPI GetCurrentThreadId();
BOOL WINAPI GetExitCodeThread(HANDLE thread, LPDWORD exitCode);

HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState,
                           LPCSTR name);
BOOL WINAPI SetEvent(HANDLE event);
BOOL WINAPI ResetEvent(HANDLE event);
DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds);
BOOL WINAPI CloseHandle(HANDLE handle);
void WINAPI Sleep(DWORD milliseconds);
// Here the text goes to the installed host (twplat::Host::DebugOutput).
void WINAPI OutputDebugStringA(LPCSTR outputString);

DWORD WINAPI GetLastError();
void WINAPI SetLastError(DWORD errorCode);

DWORD WINAPI FormatMessageA(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId,
                            LPSTR buffer, DWORD size, void* arguments);
HLOCAL WINAPI LocalFree(HLOCAL memory);
