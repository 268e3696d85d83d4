// Modal dialogs from templates: creation, WM_INITDIALOG, the modal loop with
// its dialog keys, default processing, EndDialog.
#include "message_queue.h"
#include "resources.h"
#include "window_classes.h"

namespace twplat {
namespace {

// Styles and rectangle, from a dialog's or a control's template.
template <typename Template>
void Place(WindowDescription& description, const Template& from) {
  description.style = from.style;
  description.exStyle = from.exStyle;
  description.x = from.x;
  description.y = from.y;
  description.cx = from.cx;
  description.cy = from.cy;
}

// A dialog is not visible until its modal loop first runs out of messages.
Window MakeDialogWindow(const DialogTemplate& dialog, HWND owner, DLGPROC procedure) {
  Window window;
  window.kind = WindowKind::kDialog;
  window.queue = CurrentQueue();
  WindowDescription& description = window.description;
  description.parent = owner;
  description.className = "#32770";
  Place(description, dialog);
  description.templateId = dialog.id;
  description.font = &dialog.font;
  window.state.text = dialog.caption != nullptr ? dialog.caption : "";
  window.state.visible = false;
  window.dialogProc = procedure;
  window.run = std::make_shared<DialogRun>();
  return window;
}

Window MakeControlWindow(const ControlTemplate& control, WindowKind kind, HWND dialog) {
  Window window;
  window.kind = kind;
  window.queue = CurrentQueue();
  WindowDescription& description = window.description;
  description.parent = dialog;
  description.className = control.className;
  description.id = control.id;
  Place(description, control);
  window.state.text = control.text != nullptr ? control.text : "";
  window.state.enabled = (control.style & WS_DISABLED) == 0;
  window.state.visible = (control.style & WS_VISIBLE) != 0;
  if (control.iconId != 0) {
    window.state.icon = LoadIconA(nullptr, MAKEINTRESOURCEA(control.iconId));
  }
  return window;
}

// Null when a control's class is unknown; nothing is left behind then.
HWND CreateFromTemplate(const DialogTemplate& dialogTemplate, HWND owner, DLGPROC procedure) {
  HWND dialog = AddWindow(MakeDialogWindow(dialogTemplate, owner, procedure));
  for (const ControlTemplate& control : dialogTemplate.controls) {
    WindowKind kind;
    if (!KindOfClass(control.className, &kind)) {
      RemoveWindowTree(dialog);
      SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
      return nullptr;
    }
    AddWindow(MakeControlWindow(control, kind, dialog));
  }
  return dialog;
}

// The first control that carries WS_TABSTOP and can take the focus.
HWND FirstTabStop(HWND dialog) {
  return FirstChildWhere(dialog, [](const Window& control) {
    return (control.description.style & WS_TABSTOP) != 0 && control.state.enabled &&
           control.state.visible;
  });
}

void SetFocusOf(HWND dialog, HWND control) {
  ChangeWindow(dialog, WindowChange::kFocus, [&](Window& window) {
    window.state.focus = control;
    return true;
  });
}

void Show(HWND dialog, bool visible) {
  ChangeWindow(dialog, WindowChange::kVisible, [&](Window& window) {
    if (window.state.visible == visible) {
      return false;
    }
    window.state.visible = visible;
    return true;
  });
}

std::shared_ptr<DialogRun> RunOf(HWND dialog) {
  std::shared_ptr<DialogRun> run;
  WithWindow(dialog, [&](Window& window) { run = window.run; });
  return run;
}

bool Ended(HWND dialog, const DialogRun& run) {
  std::lock_guard<std::mutex> lock(WindowLock());
  return run.ended || FindWindowLocked(dialog) == nullptr;
}

LRESULT SendCommand(HWND dialog, int id) {
  HWND control = FindDialogItem(dialog, id);
  return SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                      reinterpret_cast<LPARAM>(control));
}

// Enter clicks the default push button while it is enabled (a dialog without
// one gets IDOK); Escape sends IDCANCEL. Keys meant for a disabled dialog are
// swallowed; a disabled focused control does not stop them, as a disabled
// window loses the focus to its dialog. True when the key was the dialog's.
bool HandleDialogKey(HWND dialog, const MSG& message) {
  if (message.message != WM_KEYDOWN ||
      (message.hwnd != dialog && DialogOf(message.hwnd) != dialog)) {
    return false;
  }
  if (message.wParam != VK_RETURN && message.wParam != VK_ESCAPE) {
    return false;
  }
  if (!AcceptsInput(dialog)) {
    return true;
  }
  if (message.wParam == VK_ESCAPE) {
    SendCommand(dialog, IDCANCEL);
    return true;
  }
  HWND button = DefaultPushButton(dialog);
  if (button == nullptr) {
    SendCommand(dialog, IDOK);
  } else if (IsWindowEnabled(button)) {
    SendCommand(dialog, GetDlgCtrlID(button));
  }
  return true;
}

// Runs until EndDialog, the window's destruction, or a quit request, which
// is posted again for the loop outside, as Windows does.
void RunModalLoop(HWND dialog, const DialogRun& run) {
  std::shared_ptr<MessageQueue> queue = CurrentQueue();
  bool shown = false;
  while (!Ended(dialog, run)) {
    queue->ClearWake();
    MSG message;
    if (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        PostQuitMessage(static_cast<int>(message.wParam));
        return;
      }
      if (!HandleDialogKey(dialog, message)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
      }
      continue;
    }
    if (Ended(dialog, run)) {
      return;
    }
    if (!shown) {
      Show(dialog, true);
      shown = true;
      continue;
    }
    WaitOnQueue(*queue, nullptr, 0, INFINITE);
  }
}

void DisableOwner(HWND owner, DialogRun& run) {
  if (owner != nullptr && IsWindowEnabled(owner)) {
    EnableWindow(owner, FALSE);
    std::lock_guard<std::mutex> lock(WindowLock());
    run.disabledOwner = owner;
  }
}

LRESULT SetIcon(HWND dialog, WPARAM which, LPARAM icon) {
  HICON previous = nullptr;
  ChangeWindow(dialog, WindowChange::kIcon, [&](Window& window) {
    HICON& slot = which == ICON_BIG ? window.state.icon : window.state.smallIcon;
    previous = slot;
    slot = reinterpret_cast<HICON>(icon);
    return true;
  });
  return reinterpret_cast<LRESULT>(previous);
}

// What Windows' dialog manager does with a message the dialog procedure left
// unhandled.
LRESULT DefaultProcessing(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  if (HandleTextMessage(dialog, message, wParam, lParam, &result)) {
    return result;
  }
  switch (message) {
    case WM_CLOSE:
      PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                   reinterpret_cast<LPARAM>(FindDialogItem(dialog, IDCANCEL)));
      return 0;
    case WM_SETICON:
      return SetIcon(dialog, wParam, lParam);
    default:
      return 0;
  }
}

}  // namespace

void EnableOwnerAgain(DialogRun& run) {
  HWND owner = nullptr;
  {
    std::lock_guard<std::mutex> lock(WindowLock());
    std::swap(owner, run.disabledOwner);
  }
  if (owner != nullptr) {
    EnableWindow(owner, TRUE);
  }
}

LRESULT DialogProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  DLGPROC procedure = nullptr;
  WithWindow(dialog, [&](Window& window) { procedure = window.dialogProc; });
  INT_PTR handled = procedure != nullptr ? procedure(dialog, message, wParam, lParam) : FALSE;
  if (handled != FALSE || message == WM_INITDIALOG) {
    return handled;
  }
  return DefaultProcessing(dialog, message, wParam, lParam);
}

}  // namespace twplat

// The instance is not looked at: the program is the only module, and its
// resources are linked in (res/).
INT_PTR WINAPI DialogBoxParamA(HINSTANCE, LPCSTR templateName, HWND owner, DLGPROC dialogProc,
                               LPARAM initParam) {
  const twplat::DialogTemplate* dialogTemplate =
      IS_INTRESOURCE(templateName)
          ? twplat::FindDialogTemplate(LOWORD(reinterpret_cast<ULONG_PTR>(templateName)))
          : nullptr;
  if (dialogTemplate == nullptr) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return -1;
  }
  if (owner == GetDesktopWindow()) {
    owner = nullptr;
  }
  if (owner != nullptr && !IsWindow(owner)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return -1;
  }
  HWND dialog = twplat::CreateFromTemplate(*dialogTemplate, owner, dialogProc);
  if (dialog == nullptr) {
    return -1;
  }
  std::shared_ptr<twplat::DialogRun> run = twplat::RunOf(dialog);
  twplat::DisableOwner(owner, *run);
  HWND first = twplat::FirstTabStop(dialog);
  if (twplat::DialogProcedure(dialog, WM_INITDIALOG, reinterpret_cast<WPARAM>(first), initParam) &&
      first != nullptr) {
    twplat::SetFocusOf(dialog, first);
  }
  twplat::RunModalLoop(dialog, *run);
  twplat::EnableOwnerAgain(*run);
  if (IsWindow(dialog)) {
    DestroyWindow(dialog);
  }
  std::lock_guard<std::mutex> lock(twplat::WindowLock());
  return run->ended ? run->result : 0;
}

BOOL WINAPI EndDialog(HWND dialog, INT_PTR result) {
  std::shared_ptr<twplat::DialogRun> run = twplat::RunOf(dialog);
  if (!run) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  {
    std::lock_guard<std::mutex> lock(twplat::WindowLock());
    run->ended = true;
    run->result = result;
  }
  twplat::EnableOwnerAgain(*run);
  twplat::Show(dialog, false);
  if (!twplat::IsOwnedByCallingThread(dialog)) {
    PostMessageA(dialog, WM_NULL, 0, 0);  // wakes the modal loop on its thread
  }
  return TRUE;
}
