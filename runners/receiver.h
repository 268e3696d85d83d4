// The body of a Server run: listen, then play one connection at a time.
#pragma once

#include <winsock2.h>

#include <windows.h>

#include "audio/playback_context.h"

DWORD RunReceiver(PlaybackContext& context, LPCGUID deviceId);
