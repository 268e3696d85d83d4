// The user's input, as a host hands it to the window system. Any thread may
// call these, for a window of any thread: each queues the input on the
// window's thread, where it sets the queue's input bits (so it wakes
// MsgWaitForMultipleObjects) and becomes, when the thread reads its queue,
// what Windows would deliver: WM_COMMAND for a click, WM_HSCROLL for a slider
// move, WM_CLOSE for the close box, and Enter and Escape handled by the
// dialog's modal loop.
//
// Each returns false when the window is not there, is not of the right
// kind, or cannot take input because it, or its dialog, is disabled (a
// modal dialog or message box disables its owner).
#pragma once

#include <windows.h>

namespace twplat {

// A mouse click on a push button or radio button.
bool ClickButton(HWND button);
// Characters typed into an edit field or a combo box's field, at the end of
// its text. '\b' erases the last character.
bool TypeText(HWND field, const char* text);
// The field's whole text selected, then text typed over it.
bool ReplaceText(HWND field, const char* text);
// An entry of a combo box's list picked.
bool SelectComboItem(HWND comboBox, int index);
// A trackbar's thumb dragged to a position (kept inside its range).
bool MoveSlider(HWND trackbar, int position);
// A key pressed while the dialog has the focus: VK_RETURN, VK_ESCAPE.
bool PressKey(HWND dialog, int virtualKey);
// The dialog's close box (or the system menu's Close, or Alt+F4).
bool CloseWindow(HWND dialog);

}  // namespace twplat
