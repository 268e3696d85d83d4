// Icons for the window system's icon handles. LoadIconA hands out a handle
// to an icon resource; its artwork is compiled into the desktop host as Qt
// resources (:/icons/NAME-SIZE.png).
#pragma once

#include <windows.h>

#include <QIcon>
#include <QPixmap>

namespace twqt {

// Every size of the icon's artwork; a null icon for a handle that names no
// icon with artwork.
QIcon IconFor(HICON icon);
// The artwork at one size in pixels (32: the size Windows gives an icon
// shown at its real size).
QPixmap IconPixmap(HICON icon, int size);

}  // namespace twqt
