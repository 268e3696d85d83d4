#include "audio/capture_context.h"

#include <dsound.h>

#include "net/sockets.h"

CaptureContext::CaptureContext() : notifyEvent(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {}

CaptureContext::~CaptureContext() {
  CloseGracefully(connectionSocket);
  if (captureBuffer != nullptr) {
    captureBuffer->Stop();
    captureBuffer->Release();
    captureBuffer = nullptr;
  }
  if (captureDevice != nullptr) {
    captureDevice->Release();
    captureDevice = nullptr;
  }
  if (notifyEvent != nullptr) {
    CloseHandle(notifyEvent);
  }
}
