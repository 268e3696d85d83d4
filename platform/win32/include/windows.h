// The Windows interfaces the program calls, re-created on Linux.
#pragma once

#include "winbase.h"
#include "windef.h"
#include "winerror.h"
#include "winreg.h"
#include "winuser.h"
