// Calls on any window: existence, parent, enabled state, text, destruction.
#include "window_classes.h"

namespace twplat {
namespace {

// One desktop window for the process, owned by no thread.
HWND DesktopHandle() {
  static HWND desktop = [] {
    Window window;
    window.kind = WindowKind::kDesktop;
    window.description.className = "#32769";
    return AddWindow(std::move(window));
  }();
  return desktop;
}

}  // namespace
}  // namespace twplat

HWND WINAPI GetDesktopWindow() { return twplat::DesktopHandle(); }

BOOL WINAPI IsWindow(HWND window) {
  std::lock_guard<std::mutex> lock(twplat::WindowLock());
  return twplat::FindWindowLocked(window) != nullptr ? TRUE : FALSE;
}

HWND WINAPI GetParent(HWND window) {
  HWND parent = nullptr;
  twplat::WithWindow(window, [&](twplat::Window& found) { parent = found.description.parent; });
  return parent;
}

// Any thread may enable or disable a window (a worker enables a button of
// the window); the host hears of it on that thread. No WM_ENABLE is sent:
// nothing here handles it, and a cross-thread send would block the worker.
BOOL WINAPI EnableWindow(HWND window, BOOL enable) {
  bool wasDisabled = false;
  bool found = twplat::ChangeWindow(window, twplat::WindowChange::kEnabled, [&](twplat::Window& w) {
    wasDisabled = !w.state.enabled;
    if (w.kind == twplat::WindowKind::kDesktop || w.state.enabled == (enable != FALSE)) {
      return false;
    }
    w.state.enabled = enable != FALSE;
    return true;
  });
  return found && wasDisabled ? TRUE : FALSE;
}

BOOL WINAPI IsWindowEnabled(HWND window) {
  bool enabled = false;
  twplat::WithWindow(window, [&](twplat::Window& found) { enabled = found.state.enabled; });
  return enabled ? TRUE : FALSE;
}

BOOL WINAPI SetWindowTextA(HWND window, LPCSTR text) {
  if (!IsWindow(window)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  return SendMessageA(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)) != 0 ? TRUE : FALSE;
}

int WINAPI GetWindowTextA(HWND window, LPSTR text, int size) {
  if (text != nullptr && size > 0) {
    text[0] = '\0';
  }
  if (text == nullptr || size <= 0) {
    return 0;
  }
  return static_cast<int>(
      SendMessageA(window, WM_GETTEXT, static_cast<WPARAM>(size), reinterpret_cast<LPARAM>(text)));
}

// Only the owning thread may destroy a window. WM_DESTROY goes to the window
// first, then to its controls; a dialog that disabled its owner enables it
// again even without EndDialog.
BOOL WINAPI DestroyWindow(HWND window) {
  if (!IsWindow(window)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  if (!twplat::IsOwnedByCallingThread(window)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  bool already = false;
  std::shared_ptr<twplat::DialogRun> run;
  twplat::WithWindow(window, [&](twplat::Window& found) {
    already = found.destroying;
    found.destroying = true;
    run = found.run;
  });
  if (already) {
    return TRUE;
  }
  if (run) {
    twplat::EnableOwnerAgain(*run);
  }
  for (HWND each : twplat::WindowAndDescendants(window)) {
    twplat::CallWindowProcedure(each, WM_DESTROY, 0, 0);
  }
  // What is still queued for the windows could never be dispatched.
  std::vector<HWND> tree = twplat::WindowAndDescendants(window);
  twplat::CurrentQueue()->DropMessagesOf({tree.begin(), tree.end()});
  twplat::RemoveWindowTree(window);
  return TRUE;
}
