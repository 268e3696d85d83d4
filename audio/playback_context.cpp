#include "audio/playback_context.h"

#include <dsound.h>

#include "net/sockets.h"

PlaybackContext::PlaybackContext() : notifyEvent(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {}

PlaybackContext::~PlaybackContext() {
  CloseGracefully(connectionSocket);
  for (SOCKET& listener : listeners.sockets) {
    CloseGracefully(listener);
  }
  if (playbackBuffer != nullptr) {
    playbackBuffer->Stop();
    playbackBuffer->Release();
    playbackBuffer = nullptr;
  }
  if (playbackDevice != nullptr) {
    playbackDevice->Release();
    playbackDevice = nullptr;
  }
  if (notifyEvent != nullptr) {
    CloseHandle(notifyEvent);
  }
}
