#include "tests/support/mouse_move.h"

#include "platform/win32/kernel_object.h"
#include "platform/win32/message_queue.h"
#include "platform/win32/window_table.h"

namespace twtest {

bool SimulateMouseMove(HWND window) {
  const std::shared_ptr<twplat::MessageQueue> queue = twplat::QueueOf(window);
  if (!queue) {
    return false;
  }
  const MSG move{window, WM_MOUSEMOVE, 0, 0, static_cast<DWORD>(twplat::MonotonicMs()), {0, 0}};
  return queue->Post(move, QS_MOUSEMOVE);
}

}  // namespace twtest
