#include "core/error_reporter.h"

#include <cstdio>

namespace {

struct ResultName {
  DWORD code;
  const char* name;
};

// Shown when the system has no text for a code: the DirectSound results,
// and the generic COM codes under the names DirectSound gives them.
// One code per line, in numeric order.
// clang-format off
constexpr ResultName kFallbackNames[] = {
    {0x0878000A, "DS_NO_VIRTUALIZATION"},
    {0x80004001, "DSERR_UNSUPPORTED"},
    {0x80004002, "DSERR_NOINTERFACE"},
    {0x80004005, "DSERR_GENERIC"},
    {0x80070005, "DSERR_ACCESSDENIED"},
    {0x8007000E, "DSERR_OUTOFMEMORY"},
    {0x80070057, "DSERR_INVALIDPARAM"},
    {0x8878000A, "DSERR_ALLOCATED"},
    {0x8878001E, "DSERR_CONTROLUNAVAIL"},
    {0x88780032, "DSERR_INVALIDCALL"},
    {0x88780046, "DSERR_PRIOLEVELNEEDED"},
    {0x88780064, "DSERR_BADFORMAT"},
    {0x88780078, "DSERR_NODRIVER"},
    {0x88780082, "DSERR_ALREADYINITIALIZED"},
    {0x88780096, "DSERR_BUFFERLOST"},
    {0x887800A0, "DSERR_OTHERAPPHASPRIO"},
    {0x887800AA, "DSERR_UNINITIALIZED"},
    {0x887800B4, "DSERR_BUFFERTOOSMALL"},
    {0x887800BE, "DSERR_DS8_REQUIRED"},
    {0x887800C8, "DSERR_SENDLOOP"},
    {0x887800D2, "DSERR_BADSENDBUFFERGUID"},
    {0x887800DC, "DSERR_FXUNAVAILABLE"},
    {0x88781161, "DSERR_OBJECTNOTFOUND"},
};
// clang-format on

const char* FallbackName(DWORD code) {
  for (const ResultName& entry : kFallbackNames) {
    if (entry.code == code) {
      return entry.name;
    }
  }
  return "Unknown error";
}

}  // namespace

void ReportError(const char* operation, LONG code) {
  const DWORD unsignedCode = static_cast<DWORD>(code);
  char* systemText = nullptr;
  DWORD length = FormatMessageA(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
      nullptr, unsignedCode, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
      reinterpret_cast<LPSTR>(&systemText), 0, nullptr);
  // The system's text as it comes, line break included; the fallback names
  // only when the system has none. The names are constants, so the copy the
  // algorithm takes is the pointer.
  const char* text = length != 0 && systemText != nullptr ? systemText : FallbackName(unsignedCode);

  // "%x" of the unsigned code: a negative result shows all eight digits.
  char caption[200];
  std::snprintf(caption, sizeof caption, "Error 0x%x in %s", static_cast<unsigned>(unsignedCode),
                operation);

  MessageBoxA(nullptr, text, caption, MB_OK | MB_ICONINFORMATION);

  if (systemText != nullptr) {
    LocalFree(systemText);
  }
}
