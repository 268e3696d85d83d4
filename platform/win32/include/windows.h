// The Windows interfaces the program calls, re-created on Linux.
#pragma once

#include "windef.h"
#include "winerror.h"
#include "winbase.h"
#include "winuser.h"
