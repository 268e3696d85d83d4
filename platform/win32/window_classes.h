// The window classes the dialog templates use, each with its window
// procedure. Procedures run on the window's owning thread.
#pragma once

#include <windows.h>

#include "window_table.h"

namespace twplat {

// Private messages that carry a user's choice from the host, in the system
// range that Windows leaves unused (0x0390..0x03DF). wParam: the entry index
// (combo box) or the new position (trackbar).
inline constexpr UINT kInputSelectItem = 0x0390;
inline constexpr UINT kInputMoveSlider = 0x0391;

// The class of a template's control (names compare without case, as
// Windows' class names do); false for a class this system does not have.
bool KindOfClass(const char* className, WindowKind* kind);

LRESULT DialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT ButtonProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT EditProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT StaticProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT ComboBoxProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT ProgressBarProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT TrackbarProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Edits text as typed characters do: '\b' erases the last character (or the
// whole selected text); other control characters are ignored. False when
// nothing changed.
bool ApplyTypedCharacter(std::string* text, bool* selectAll, char typed);

// Enables the owner that a dialog disabled while it ran, once.
void EnableOwnerAgain(DialogRun& run);

// The push button a dialog's Enter key clicks: its BS_DEFPUSHBUTTON control,
// or null.
HWND DefaultPushButton(HWND dialog);

}  // namespace twplat
