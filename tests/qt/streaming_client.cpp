#include "tests/qt/streaming_client.h"

#include <winsock2.h>

#include <windows.h>

#include <chrono>
#include <cmath>
#include <numbers>
#include <vector>

#include "core/stream_header.h"
#include "tests/support/loopback_peer.h"

namespace twtest {
namespace {

constexpr DWORD kRate = 44100;
constexpr WORD kChannels = 2;
constexpr WORD kFrameBytes = 4;
// About 23 ms of sound per send.
constexpr size_t kFramesPerSend = 1024;

std::vector<unsigned char> ToneChunk(size_t firstFrame) {
  std::vector<unsigned char> chunk(kFramesPerSend * kFrameBytes);
  for (size_t frame = 0; frame < kFramesPerSend; ++frame) {
    double phase = 2.0 * std::numbers::pi * 440.0 * double(firstFrame + frame) / kRate;
    auto sample = static_cast<int16_t>(8000.0 * std::sin(phase));
    for (size_t channel = 0; channel < kChannels; ++channel) {
      size_t at = frame * kFrameBytes + channel * 2;
      chunk[at] = static_cast<unsigned char>(sample & 0xFF);
      chunk[at + 1] = static_cast<unsigned char>((sample >> 8) & 0xFF);
    }
  }
  return chunk;
}

}  // namespace

StreamingClient::StreamingClient(int port) : thread_([this, port] { Stream(port); }) {}

// A send blocked on a full window ends when the sending direction is shut.
StreamingClient::~StreamingClient() {
  stop_.store(true);
  int connection = connection_.load();
  if (connection >= 0) {
    peer::ShutdownSend(connection);
  }
  thread_.join();
  if (connection >= 0) {
    peer::Close(connection);
  }
}

void StreamingClient::Stream(int port) {
  int connection = peer::Connect(port);
  if (connection < 0) {
    return;
  }
  connection_.store(connection);
  WAVEFORMATEX format{};
  format.wFormatTag = WAVE_FORMAT_PCM;
  format.nChannels = kChannels;
  format.nSamplesPerSec = kRate;
  format.wBitsPerSample = 16;
  format.nBlockAlign = kFrameBytes;
  format.nAvgBytesPerSec = kRate * kFrameBytes;
  const HeaderImage header = EncodeHeader(MakeHeader(format, kBlockBytes));
  if (!peer::SendAll(connection, header.bytes, sizeof header.bytes)) {
    return;
  }
  auto due = std::chrono::steady_clock::now();
  const auto period = std::chrono::microseconds(1000000LL * kFramesPerSend / kRate);
  for (size_t frame = 0; !stop_.load(); frame += kFramesPerSend) {
    std::vector<unsigned char> chunk = ToneChunk(frame);
    if (!peer::SendAll(connection, chunk.data(), chunk.size())) {
      return;
    }
    due += period;
    std::this_thread::sleep_until(due);
  }
}

}  // namespace twtest
