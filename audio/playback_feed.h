// What the Server does with the sound of one connection between the socket
// and the playback ring: queues what arrives (PlaybackQueue), moves whole
// frames into the ring as it has room, lets the PlaybackController decide
// how much to hold, carries its rate out through the buffer's frequency
// control, and skips a backlog it calls for. When the target changes, one
// short log line says so (at most every kTargetLineMs).
//
// Thread contract: worker thread only. Reads appState.latencyTargetMs at
// Begin.
#pragma once

#include <winsock2.h>

#include <windows.h>

#include <chrono>
#include <memory>

#include "audio/playback_context.h"
#include "audio/playback_controller.h"
#include "audio/playback_queue.h"
#include "core/stream_header.h"

class PlaybackFeed {
 public:
  static constexpr DWORD kTargetLineMs = 2000;

  // For a connection with this header, its ring set up. False when memory
  // is short.
  bool Begin(const StreamHeader& header);

  // count bytes arrived (any count: a frame cut by the network waits for
  // its other part).
  void Arrive(PlaybackContext& context, const BYTE* bytes, LONG count);
  // Moves what fits into the ring, starts a stopped ring that cannot take
  // more, and steers the rate. False after a failed look at the ring or a
  // failed write (reported).
  bool Pump(PlaybackContext& context);
  // After a chunk: the next look at the ring comes after the next receive,
  // which may gather a whole block, so while the queue has sound the ring is
  // filled until it holds a block, waiting for room as it plays where it
  // cannot hold one (a ring shorter than a block). False after a failure.
  bool FeedUntilNextReceive(PlaybackContext& context);
  // Starts the ring (the start rule) and tells the controller.
  void Start(PlaybackContext& context);
  // Writes everything still queued into the ring, waiting for room: the end
  // of an orderly close. False on a stop request or a failure.
  bool Flush(PlaybackContext& context);

  // Whole frames wait in the queue for room in the ring (not while the queue
  // gathers sound after the ring ran dry: the ring then plays silence).
  bool HoldsSound() const { return queue_ != nullptr && queue_->FrameBytes() > 0 && !gathering_; }
  const PlaybackController* controller() const { return controller_.get(); }

 private:
  double Now() const;
  LONG Held(PlaybackContext& context, LONG* room);
  bool MoveIntoRing(PlaybackContext& context, LONG room);
  bool Gathering(LONG inRing);
  void Steer(PlaybackContext& context);
  void ShowTarget();

  std::unique_ptr<PlaybackController> controller_;
  std::unique_ptr<PlaybackQueue> queue_;
  std::chrono::steady_clock::time_point start_;
  DWORD samplesPerSecond_ = 0;
  LONG blockBytes_ = 0;  // what one receive may gather
  DWORD frequency_ = 0;  // the frequency last set on the buffer
  bool started_ = false;
  bool gathering_ = false;  // as the controller last said
  LONG shownTargetMs_ = -1;
  double shownAt_ = -1e9;
};
