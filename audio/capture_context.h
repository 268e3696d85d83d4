// The Client run's record: connection, capture device and ring, and the
// reader's position. Made when the Client worker starts; its destruction
// releases the socket, the buffer, the device and the event, in that order.
#pragma once

#include <winsock2.h>

#include <windows.h>

struct IDirectSoundCapture;
struct IDirectSoundCaptureBuffer;

struct CaptureContext {
  CaptureContext();
  ~CaptureContext();
  CaptureContext(const CaptureContext&) = delete;
  CaptureContext& operator=(const CaptureContext&) = delete;

  SOCKET connectionSocket = INVALID_SOCKET;
  IDirectSoundCapture* captureDevice = nullptr;
  IDirectSoundCaptureBuffer* captureBuffer = nullptr;
  HANDLE notifyEvent = nullptr;  // auto-reset, signalled at the ring's notification positions
  LONG notifyStep = 0;
  LONG readOffset = 0;  // where the next block starts, 0 .. bufferBytes - 1
  LONG bufferBytes = 0;
  HRESULT readFailure = S_OK;  // why the last ReadCaptureBlock failed; S_OK (DS_OK) for a stop
};
