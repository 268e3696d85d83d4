#include "audio/playback_feed.h"

#include <dsound.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <new>

#include "audio/playback_ring.h"
#include "core/app_state.h"

namespace {

// The queue holds what the controller may keep, a skip's worth beyond it
// and two chunks more.
constexpr double kQueueSeconds =
    PlaybackController::kLatestSeconds + PlaybackController::kSkipExcessSeconds;
constexpr LONG kTargetLineStepMs = 5;
// The peer announces the rate, so the queue's size is bounded by the largest
// format a sound device takes (192000 Hz, 8 channels of 32 bits): a header
// claiming more cannot make the Server allocate gigabytes.
constexpr DWORD kMostBytesPerSecond = 192000 * 8 * 4;
// Feeding waits for room in short steps, and a second at most, so that a
// device that stopped taking sound does not hold up the receive loop.
constexpr DWORD kFeedWaitMs = 10;
constexpr std::chrono::milliseconds kLongestFeedWait{1000};

}  // namespace

bool PlaybackFeed::Begin(const StreamHeader& header) {
  PlaybackSettings settings;
  settings.bytesPerSecond = header.averageBytesPerSecond;
  settings.frameBytes = static_cast<std::uint32_t>(PlaybackFrameBytes(header));
  settings.fixedTargetSeconds = appState.latencyTargetMs.load() / 1000.0;
  settings.rateControl = RateControlEnabled();
  controller_.reset(new (std::nothrow) PlaybackController(settings));
  const DWORD rate = std::min<DWORD>(header.averageBytesPerSecond, kMostBytesPerSecond);
  const auto capacity =
      static_cast<DWORD>(rate * kQueueSeconds) + 2 * kBlockBytes +
      std::min<DWORD>(static_cast<DWORD>(settings.frameBytes), kMostBytesPerSecond);
  queue_.reset(new (std::nothrow)
                   PlaybackQueue(capacity, static_cast<WORD>(settings.frameBytes),
                                 static_cast<WORD>(header.bitsPerSample), header.samplesPerSecond));
  start_ = std::chrono::steady_clock::now();
  samplesPerSecond_ = header.samplesPerSecond;
  blockBytes_ = static_cast<LONG>(std::min<DWORD>(header.blockLength, kBlockBytes));
  frequency_ = header.samplesPerSecond;
  started_ = false;
  shownTargetMs_ = -1;
  shownAt_ = -1e9;
  return controller_ != nullptr && queue_ != nullptr && queue_->valid();
}

double PlaybackFeed::Now() const {
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start_;
  return elapsed.count();
}

// The queue and the ring's share, in bytes; *room the ring's room now.
LONG PlaybackFeed::Held(PlaybackContext& context, LONG* room) {
  LONG inRing = 0;
  *room = LookAtPlaybackRing(context, &inRing);
  return static_cast<LONG>(queue_->Bytes()) + inRing;
}

void PlaybackFeed::Arrive(PlaybackContext& context, const BYTE* bytes, LONG count) {
  LONG room = 0;
  const LONG held = Held(context, &room);
  controller_->OnArrival(Now(), static_cast<std::uint64_t>(count),
                         static_cast<std::uint64_t>(held > 0 ? held : 0));
  queue_->Push(bytes, static_cast<DWORD>(count));
  const std::uint64_t skip =
      controller_->BytesToSkip(static_cast<std::uint64_t>(held > 0 ? held : 0) + count);
  if (skip > 0) {
    queue_->Skip(static_cast<DWORD>(std::min<std::uint64_t>(skip, queue_->FrameBytes())));
  }
}

bool PlaybackFeed::Pump(PlaybackContext& context) {
  LONG inRing = 0;
  const LONG room = LookAtPlaybackRing(context, &inRing);
  if (room < 0) {
    return false;
  }
  if (!context.playing && room == 0 && queue_->FrameBytes() > 0) {
    Start(context);
  }
  const bool moved = MoveIntoRing(context, Gathering(inRing) ? 0 : room);
  if (context.playing && !started_) {
    started_ = true;
    controller_->OnPlaybackStarted();
  }
  if (started_) {
    Steer(context);
  }
  return moved;
}

// Whole frames only, and no more than the room: the writer does not wait.
bool PlaybackFeed::MoveIntoRing(PlaybackContext& context, LONG room) {
  if (queue_->FrameBytes() == 0 || room <= 0) {
    return WritePlaybackBlock(context, nullptr, 0);  // a changed volume still applies
  }
  LONG left = std::min(static_cast<LONG>(queue_->FrameBytes()), room);
  left -= left % context.frameBytes;
  while (left > 0) {
    DWORD run = 0;
    const BYTE* front = queue_->Front(&run);
    const LONG part = std::min(static_cast<LONG>(run), left);
    if (!WritePlaybackBlock(context, front, part)) {
      return false;
    }
    queue_->Pop(static_cast<DWORD>(part));
    left -= part;
  }
  return true;
}

// Asks the controller whether the queue is still gathering sound, with what
// the queue and the ring (inRing) hold now.
bool PlaybackFeed::Gathering(LONG inRing) {
  const LONG held = static_cast<LONG>(queue_->Bytes()) + inRing;
  gathering_ = controller_->Gathering(Now(), static_cast<std::uint64_t>(held > 0 ? held : 0));
  return gathering_;
}

bool PlaybackFeed::FeedUntilNextReceive(PlaybackContext& context) {
  if (gathering_) {
    return true;  // Pump has just asked
  }
  const auto giveUpAt = std::chrono::steady_clock::now() + kLongestFeedWait;
  while (context.playing && queue_->FrameBytes() > 0 && !StopRequested() &&
         std::chrono::steady_clock::now() < giveUpAt) {
    LONG inRing = 0;
    const LONG room = LookAtPlaybackRing(context, &inRing);
    if (room < 0) {
      return false;
    }
    if (inRing >= blockBytes_) {
      return true;
    }
    if (room > 0) {
      if (!MoveIntoRing(context, room)) {
        return false;
      }
      continue;
    }
    WaitForSingleObject(context.notifyEvent, kFeedWaitMs);
  }
  return true;
}

void PlaybackFeed::Start(PlaybackContext& context) {
  StartPlaybackRing(context);
  if (!started_) {
    started_ = true;
    controller_->OnPlaybackStarted();
  }
}

// The controller's ratio as the buffer's frequency, in whole hertz.
void PlaybackFeed::Steer(PlaybackContext& context) {
  const double ratio = controller_->Tick(Now());
  const auto wanted = static_cast<DWORD>(
      std::clamp<long>(std::lround(samplesPerSecond_ * ratio), DSBFREQUENCY_MIN, DSBFREQUENCY_MAX));
  if (wanted != frequency_ && SUCCEEDED(context.playbackBuffer->SetFrequency(wanted))) {
    frequency_ = wanted;
  }
  ShowTarget();
}

void PlaybackFeed::ShowTarget() {
  const auto targetMs = static_cast<LONG>(std::lround(controller_->targetSeconds() * 1000));
  const double now = Now();
  if (std::labs(targetMs - shownTargetMs_) < kTargetLineStepMs ||
      now - shownAt_ < kTargetLineMs / 1000.0) {
    return;
  }
  char line[64];
  std::snprintf(line, sizeof line, "Playback target %ld ms\n", static_cast<long>(targetMs));
  OutputDebugStringA(line);
  shownTargetMs_ = targetMs;
  shownAt_ = now;
}

bool PlaybackFeed::Flush(PlaybackContext& context) {
  while (queue_->FrameBytes() > 0) {
    DWORD run = 0;
    const BYTE* front = queue_->Front(&run);
    if (!WritePlaybackBlock(context, front, static_cast<LONG>(run))) {
      return false;
    }
    queue_->Pop(run);
  }
  return true;
}
