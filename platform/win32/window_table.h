// Every window of the process, by handle. The table and each window's fields
// are guarded by one lock, so any thread may look a window up, read it or
// change its state; window procedures run only on the owning thread and never
// under the lock.
//
// Handles are never reused, so a stale handle fails cleanly with
// ERROR_INVALID_WINDOW_HANDLE instead of reaching another window.
#pragma once

#include <windows.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host.h"
#include "message_queue.h"

namespace twplat {

enum class WindowKind {
  kDesktop,
  kDialog,
  kButton,
  kEdit,
  kStatic,
  kComboBox,
  kProgressBar,
  kTrackbar,
};

// The modal loop of a dialog: EndDialog's result, and the owner the dialog
// disabled. Shared by the loop and the window, so the result outlives a
// window destroyed right after EndDialog. Guarded by WindowLock().
struct DialogRun {
  bool ended = false;
  INT_PTR result = 0;
  HWND disabledOwner = nullptr;
};

struct Window {
  WindowDescription description;
  WindowKind kind = WindowKind::kDesktop;
  std::shared_ptr<MessageQueue> queue;  // the owning thread's; null for the desktop
  std::vector<HWND> children;           // in creation order, which is template order
  WindowState state;
  std::vector<LRESULT> itemData;  // combo box: one value per entry of state.items
  bool selectAll = false;         // edit field: the next typed character replaces the text
  // Dialogs.
  DLGPROC dialogProc = nullptr;
  std::shared_ptr<DialogRun> run;
  bool destroying = false;
};

// The lock over the table and every window in it.
std::mutex& WindowLock();
// The window with this handle, or null. Call with WindowLock() held.
Window* FindWindowLocked(HWND handle);

// Adds a window owned by the calling thread and tells the host. Its parent's
// child list gets it too.
HWND AddWindow(Window window);
// Removes a window and its children from the table, children first, telling
// the host of each.
void RemoveWindowTree(HWND handle);
// Removes every window of a thread that ends, without calling any procedure.
void RemoveWindowsOf(const MessageQueue* queue);

// Runs f(window) under the lock; false (with ERROR_INVALID_WINDOW_HANDLE) when
// there is no such window.
template <class F>
bool WithWindow(HWND handle, F&& f) {
  std::lock_guard<std::mutex> lock(WindowLock());
  Window* window = FindWindowLocked(handle);
  if (window == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  f(*window);
  return true;
}

// The first child, in creation order, for which match(child) holds; null
// when none does or there is no such window.
template <class F>
HWND FirstChildWhere(HWND handle, F&& match) {
  HWND found = nullptr;
  WithWindow(handle, [&](Window& window) {
    for (HWND child : window.children) {
      const Window* control = FindWindowLocked(child);
      if (control != nullptr && match(*control)) {
        found = child;
        return;
      }
    }
  });
  return found;
}

// Serialises host notifications, so the host sees changes in the order they
// were made.
std::recursive_mutex& NotifyLock();
void NotifyChanged(HWND handle, WindowChange what, const WindowState& state);

// Changes a window's state under the lock; when mutate(window) returns true,
// tells the host, on the calling thread. False when there is no such window.
template <class F>
bool ChangeWindow(HWND handle, WindowChange what, F&& mutate) {
  std::lock_guard<std::recursive_mutex> order(NotifyLock());
  bool changed = false;
  WindowState after;
  bool found = WithWindow(handle, [&](Window& window) {
    changed = mutate(window);
    if (changed) {
      after = window.state;
    }
  });
  if (changed) {
    NotifyChanged(handle, what, after);
  }
  return found;
}

std::shared_ptr<MessageQueue> QueueOf(HWND handle);
bool IsOwnedByCallingThread(HWND handle);
HWND ParentOf(HWND handle);
// The window and all windows below it.
std::vector<HWND> WindowAndDescendants(HWND handle);
// A dialog's control by identifier (the first in template order), or null.
// Sets no error.
HWND FindDialogItem(HWND dialog, int id);
// The dialog a control belongs to, or the window itself when it is a dialog.
HWND DialogOf(HWND handle);
// False when the window, or the dialog it belongs to, is disabled: a user
// cannot reach it.
bool AcceptsInput(HWND handle);

// The window procedure of the window's class; owning thread only.
LRESULT CallWindowProcedure(HWND handle, UINT message, WPARAM wParam, LPARAM lParam);

// Shared text messages of every class: WM_SETTEXT, WM_GETTEXT,
// WM_GETTEXTLENGTH. True with *result set when the message was one of them.
bool HandleTextMessage(HWND handle, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

// Sends WM_COMMAND with a notification code from a control to its dialog.
void NotifyParent(HWND control, WORD code);

}  // namespace twplat
