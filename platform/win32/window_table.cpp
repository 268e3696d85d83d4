// The table of windows and the host notifications about them.
#include "window_table.h"

#include <algorithm>
#include <cstdint>
#include <unordered_map>

namespace twplat {
namespace {

struct Table {
  std::mutex mutex;
  std::unordered_map<HWND, std::unique_ptr<Window>> windows;
  std::uintptr_t nextHandle = 0x10000;
};

// Never destroyed: a worker thread may still be ending, and removing its
// windows, while exit() runs the static destructors.
Table& TheTable() {
  static Table* table = new Table;
  return *table;
}

// Handles step by 4, like Windows' user handles; never 0 and never reused.
HWND NewHandleLocked(Table& table) {
  table.nextHandle += 4;
  return reinterpret_cast<HWND>(table.nextHandle);
}

void CollectTreeLocked(Table& table, HWND handle, std::vector<HWND>* out) {
  auto found = table.windows.find(handle);
  if (found == table.windows.end()) {
    return;
  }
  out->push_back(handle);
  for (HWND child : found->second->children) {
    CollectTreeLocked(table, child, out);
  }
}

// Takes the windows out of the table (under the lock), then tells the host.
void RemoveWindows(const std::vector<HWND>& handles) {
  std::lock_guard<std::recursive_mutex> order(NotifyLock());
  std::vector<std::unique_ptr<Window>> removed;
  {
    Table& table = TheTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    for (HWND handle : handles) {
      auto found = table.windows.find(handle);
      if (found == table.windows.end()) {
        continue;
      }
      HWND parent = found->second->description.parent;
      if (Window* above = FindWindowLocked(parent)) {
        std::erase(above->children, handle);
      }
      removed.push_back(std::move(found->second));
      table.windows.erase(found);
    }
  }
  for (auto& window : removed) {
    if (window->queue) {
      window->queue->RemoveWindow();
    }
    CurrentHost().WindowDestroyed(window->description.handle);
  }
}

}  // namespace

std::mutex& WindowLock() { return TheTable().mutex; }

Window* FindWindowLocked(HWND handle) {
  if (handle == nullptr) {
    return nullptr;
  }
  auto& windows = TheTable().windows;
  auto found = windows.find(handle);
  return found == windows.end() ? nullptr : found->second.get();
}

std::recursive_mutex& NotifyLock() {
  static auto* mutex = new std::recursive_mutex;
  return *mutex;
}

void NotifyChanged(HWND handle, WindowChange what, const WindowState& state) {
  CurrentHost().WindowChanged(handle, what, state);
}

HWND AddWindow(Window window) {
  std::lock_guard<std::recursive_mutex> order(NotifyLock());
  Table& table = TheTable();
  WindowDescription description;
  WindowState state;
  {
    std::lock_guard<std::mutex> lock(table.mutex);
    HWND handle = NewHandleLocked(table);
    window.description.handle = handle;
    if (window.kind != WindowKind::kDialog && window.kind != WindowKind::kDesktop) {
      if (Window* parent = FindWindowLocked(window.description.parent)) {
        parent->children.push_back(handle);
      }
    }
    if (window.queue) {
      window.queue->AddWindow();
    }
    description = window.description;
    state = window.state;
    table.windows.emplace(handle, std::make_unique<Window>(std::move(window)));
  }
  if (description.className != "#32769") {
    CurrentHost().WindowCreated(description, state);
  }
  return description.handle;
}

void RemoveWindowTree(HWND handle) {
  std::vector<HWND> tree = WindowAndDescendants(handle);
  // Children first, so a host never holds a control whose dialog is gone.
  std::vector<HWND> order(tree.rbegin(), tree.rend());
  RemoveWindows(order);
}

void RemoveWindowsOf(const MessageQueue* queue) {
  std::vector<HWND> owned;
  {
    Table& table = TheTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    for (auto& [handle, window] : table.windows) {
      if (window->queue.get() == queue && window->kind != WindowKind::kDialog) {
        owned.push_back(handle);
      }
    }
    for (auto& [handle, window] : table.windows) {
      if (window->queue.get() == queue && window->kind == WindowKind::kDialog) {
        owned.push_back(handle);
      }
    }
  }
  RemoveWindows(owned);
}

std::shared_ptr<MessageQueue> QueueOf(HWND handle) {
  std::shared_ptr<MessageQueue> queue;
  WithWindow(handle, [&](Window& window) { queue = window.queue; });
  return queue;
}

bool IsOwnedByCallingThread(HWND handle) {
  MessageQueue* own = ExistingQueue();
  if (own == nullptr) {
    return false;
  }
  std::lock_guard<std::mutex> lock(WindowLock());
  Window* window = FindWindowLocked(handle);
  return window != nullptr && window->queue.get() == own;
}

HWND ParentOf(HWND handle) {
  HWND parent = nullptr;
  WithWindow(handle, [&](Window& window) { parent = window.description.parent; });
  return parent;
}

std::vector<HWND> WindowAndDescendants(HWND handle) {
  std::vector<HWND> tree;
  Table& table = TheTable();
  std::lock_guard<std::mutex> lock(table.mutex);
  CollectTreeLocked(table, handle, &tree);
  return tree;
}

HWND FindDialogItem(HWND dialog, int id) {
  std::lock_guard<std::mutex> lock(WindowLock());
  Window* window = FindWindowLocked(dialog);
  if (window == nullptr) {
    return nullptr;
  }
  for (HWND child : window->children) {
    Window* control = FindWindowLocked(child);
    if (control != nullptr && control->description.id == id) {
      return child;
    }
  }
  return nullptr;
}

HWND DialogOf(HWND handle) {
  std::lock_guard<std::mutex> lock(WindowLock());
  Window* window = FindWindowLocked(handle);
  while (window != nullptr && window->kind != WindowKind::kDialog) {
    window = FindWindowLocked(window->description.parent);
  }
  return window != nullptr ? window->description.handle : nullptr;
}

bool AcceptsInput(HWND handle) {
  std::lock_guard<std::mutex> lock(WindowLock());
  Window* window = FindWindowLocked(handle);
  if (window == nullptr || window->kind == WindowKind::kDesktop) {
    return false;
  }
  while (window->state.enabled) {
    if (window->kind == WindowKind::kDialog) {
      return true;
    }
    window = FindWindowLocked(window->description.parent);
    if (window == nullptr) {
      return false;
    }
  }
  return false;
}

bool HandleTextMessage(HWND handle, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  switch (message) {
    case WM_SETTEXT: {
      const char* text = reinterpret_cast<const char*>(lParam);
      ChangeWindow(handle, WindowChange::kText, [&](Window& window) {
        window.state.text = text != nullptr ? text : "";
        window.selectAll = false;
        return true;
      });
      *result = TRUE;
      return true;
    }
    case WM_GETTEXT: {
      char* buffer = reinterpret_cast<char*>(lParam);
      LRESULT copied = 0;
      WithWindow(handle, [&](Window& window) {
        if (buffer == nullptr || wParam == 0) {
          return;
        }
        size_t count = std::min<size_t>(window.state.text.size(), wParam - 1);
        window.state.text.copy(buffer, count);
        buffer[count] = '\0';
        copied = static_cast<LRESULT>(count);
      });
      *result = copied;
      return true;
    }
    case WM_GETTEXTLENGTH: {
      LRESULT length = 0;
      WithWindow(handle,
                 [&](Window& window) { length = static_cast<LRESULT>(window.state.text.size()); });
      *result = length;
      return true;
    }
    default:
      return false;
  }
}

void NotifyParent(HWND control, WORD code) {
  HWND parent = nullptr;
  int id = 0;
  WithWindow(control, [&](Window& window) {
    parent = window.description.parent;
    id = window.description.id;
  });
  if (parent != nullptr) {
    SendMessageA(parent, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(control));
  }
}

}  // namespace twplat
