#include "runners/sender.h"

#include <winsock2.h>

#include <windows.h>

#include <dsound.h>

#include "audio/capture_ring.h"
#include "core/app_state.h"
#include "core/byte_buffer.h"
#include "core/error_reporter.h"
#include "core/run_state.h"
#include "core/stream_header.h"
#include "net/sockets.h"

namespace {

// A failed capture read is tried again after this wait on the ring's event,
// the reader's own step, so a failing device costs about a hundred attempts
// a second instead of a busy core.
constexpr DWORD kReadRetryWaitMs = 10;
// After this many failed reads in a row (about a second) the device is taken
// as gone for good; a lost buffer is known to be gone at once.
constexpr int kReadFailuresBeforeGivingUp = 100;

bool SendHeader(SOCKET connection, const StreamHeader& header) {
  const HeaderImage image = EncodeHeader(header);
  return SendAll(connection, reinterpret_cast<const char*>(image.bytes), kHeaderBytes);
}

// Everything between the status "Running TCP client..." and the end of the
// run. Returns when the run is over; the transfer block is released on return.
void CaptureAndSend(CaptureContext& context, LPCGUID deviceId) {
  const HRESULT created = DirectSoundCaptureCreate(deviceId, &context.captureDevice, nullptr);
  if (FAILED(created)) {
    ReportError("CreateCapture", created);
    return;
  }
  if (!OpenConnection(context.connectionSocket, appState.targetHost, appState.targetPort.load())) {
    return;
  }
  const HRESULT setUp = SetUpCaptureBuffer(context, context.captureDevice, &context.captureBuffer);
  if (FAILED(setUp)) {
    ReportError("CreateCaptureBuffer", setUp);
    return;
  }
  StreamHeader header = {};
  if (!HeaderForCaptureBuffer(context.captureBuffer, header)) {
    return;
  }
  ByteBuffer block(kBlockBytes);
  if (!block.valid()) {
    return;
  }
  if (!SendHeader(context.connectionSocket, header)) {
    MessageBoxA(nullptr, "Cannot write config", "Net", MB_ICONERROR);
    return;
  }
  SetStatus("Transmitting");
  if (FAILED(context.captureBuffer->Start(DSCBSTART_LOOPING))) {
    return;
  }
  SendCapturedBlocks(context, header, block);
}

}  // namespace

// The format the capture buffer was granted, as the header announces it.
// Without it there is nothing true to announce (a zero format would only be
// refused by the Server), so a failed read-back is shown and ends the run
// before anything is sent.
bool HeaderForCaptureBuffer(IDirectSoundCaptureBuffer* buffer, StreamHeader& header) {
  WAVEFORMATEX format = {};
  const HRESULT read = buffer->GetFormat(&format, sizeof format, nullptr);
  if (FAILED(read)) {
    ReportError("GetFormat", read);
    return false;
  }
  header = MakeHeader(format, kBlockBytes);
  return true;
}

// A capture device that is gone is reported once and ends the run: the
// window must not say "Transmitting" while nothing is sent.
void SendCapturedBlocks(CaptureContext& context, const StreamHeader& header, ByteBuffer& block) {
  int failures = 0;
  while (!StopRequested()) {
    LONG length = 0;
    if (ReadCaptureBlock(context, block.data(), header, length)) {
      failures = 0;
      if (!SendAll(context.connectionSocket, reinterpret_cast<const char*>(block.data()), length)) {
        return;
      }
    } else if (!StopRequested()) {
      if (context.readFailure == DSERR_BUFFERLOST || ++failures >= kReadFailuresBeforeGivingUp) {
        ReportError("Capture", context.readFailure);
        return;
      }
      WaitForSingleObject(context.notifyEvent, kReadRetryWaitMs);
    }
  }
}

DWORD RunSender(CaptureContext& context, LPCGUID deviceId) {
  RunGuard guard;
  SetStatus("Running TCP client...");
  CaptureAndSend(context, deviceId);
  // Stopped but kept: the worker's context releases it after FinishRun.
  if (context.captureBuffer != nullptr) {
    context.captureBuffer->Stop();
  }
  return 0;
}
