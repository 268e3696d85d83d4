// FormatMessageA for system texts, and LocalFree for the texts it allocates.
// The kernel's texts are here, Winsock's beside them (winsock_texts.cpp). A code with no text
// anywhere (a DirectSound HRESULT, say) has none, as on Windows, and the caller falls back on its
// own names. COM's generic failures and HRESULTs that wrap a kernel code do have system texts on
// Windows, so they have them here too.
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "system_texts.h"

namespace twplat {
namespace {

struct SystemText {
  DWORD code;
  const char* text;
};

// The kernel error codes of winerror.h, with Windows' English texts.
constexpr SystemText kKernelTexts[] = {
    {ERROR_SUCCESS, "The operation completed successfully.\r\n"},
    {ERROR_INVALID_FUNCTION, "Incorrect function.\r\n"},
    {ERROR_ACCESS_DENIED, "Access is denied.\r\n"},
    {ERROR_INVALID_HANDLE, "The handle is invalid.\r\n"},
    {ERROR_NOT_ENOUGH_MEMORY,
     "Not enough memory resources are available to process this command.\r\n"},
    {ERROR_OUTOFMEMORY,
     "Not enough memory resources are available to complete this operation.\r\n"},
    {ERROR_INVALID_PARAMETER, "The parameter is incorrect.\r\n"},
    {ERROR_INSUFFICIENT_BUFFER, "The data area passed to a system call is too small.\r\n"},
    {ERROR_MR_MID_NOT_FOUND,
     "The system cannot find message text for message number 0x%1 in the message file for "
     "%2.\r\n"},
    {ERROR_INVALID_WINDOW_HANDLE, "Invalid window handle.\r\n"},
    {ERROR_CONTROL_ID_NOT_FOUND, "Control ID not found.\r\n"},
    {ERROR_RESOURCE_NAME_NOT_FOUND,
     "The specified resource name cannot be found in the image file.\r\n"},
    {ERROR_RESOURCE_LANG_NOT_FOUND,
     "The specified resource language ID cannot be found in the image file.\r\n"},
};

// COM's generic failures (winerror.h), with Windows' English texts.
constexpr SystemText kComTexts[] = {
    {static_cast<DWORD>(E_NOTIMPL), "Not implemented\r\n"},
    {static_cast<DWORD>(E_NOINTERFACE), "No such interface supported\r\n"},
    {static_cast<DWORD>(E_FAIL), "Unspecified error\r\n"},
};

// An HRESULT built from a kernel code (HRESULT_FROM_WIN32): 0x8007xxxx.
constexpr DWORD kWin32Facility = 0x80070000;

template <size_t N>
const char* FindIn(const SystemText (&table)[N], DWORD code) {
  for (const SystemText& entry : table) {
    if (entry.code == code) {
      return entry.text;
    }
  }
  return nullptr;
}

const char* FindSystemText(DWORD code) {
  if ((code & 0xFFFF0000) == kWin32Facility) {
    code &= 0xFFFF;
  }
  if (const char* text = FindIn(kKernelTexts, code)) {
    return text;
  }
  if (const char* text = FindIn(kComTexts, code)) {
    return text;
  }
  return WinsockErrorText(code);
}

// The texts are English: the user's or the system's default language (0x400,
// 0x800), "any language" (0) and English itself find them, others do not.
bool HasLanguage(DWORD languageId) {
  return languageId == 0 || languageId == MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT) ||
         languageId == MAKELANGID(LANG_NEUTRAL, SUBLANG_SYS_DEFAULT) ||
         PRIMARYLANGID(languageId) == LANG_ENGLISH;
}

}  // namespace
}  // namespace twplat

DWORD WINAPI FormatMessageA(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId,
                            LPSTR buffer, DWORD size, void* arguments) {
  (void)source;     // used with FORMAT_MESSAGE_FROM_HMODULE / FROM_STRING only
  (void)arguments;  // the system texts are given without their inserts
  const bool allocate = (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) != 0;
  if (allocate && buffer != nullptr) {
    *reinterpret_cast<LPSTR*>(buffer) = nullptr;
  }
  // Only system texts: the program never formats its own strings this way.
  if ((flags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 ||
      (flags & (FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_FROM_HMODULE)) != 0 ||
      buffer == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (!twplat::HasLanguage(languageId)) {
    SetLastError(ERROR_RESOURCE_LANG_NOT_FOUND);
    return 0;
  }
  const char* text = twplat::FindSystemText(messageId);
  if (text == nullptr) {
    SetLastError(ERROR_MR_MID_NOT_FOUND);
    return 0;
  }
  // Without IGNORE_INSERTS a text's %1 inserts would need arguments, which
  // the layer does not take; the one text that has some is refused then.
  if ((flags & FORMAT_MESSAGE_IGNORE_INSERTS) == 0 && std::strchr(text, '%') != nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const DWORD length = static_cast<DWORD>(std::strlen(text));
  if (allocate) {
    // size is the least number of characters to allocate.
    const DWORD bytes = (length + 1 > size ? length + 1 : size);
    auto* copy = static_cast<char*>(std::calloc(bytes, 1));
    if (copy == nullptr) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return 0;
    }
    std::memcpy(copy, text, length + 1);
    *reinterpret_cast<LPSTR*>(buffer) = copy;
    return length;
  }
  if (size < length + 1) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(buffer, text, length + 1);
  return length;
}

// Releases a text that FormatMessageA allocated; null on success, as on
// Windows. FormatMessageA is the layer's one source of local memory.
HLOCAL WINAPI LocalFree(HLOCAL memory) {
  std::free(memory);
  return nullptr;
}
