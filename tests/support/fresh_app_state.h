// The shared program state as one program start finds it in a fresh process.
#pragma once

namespace twtest {

// Clears what an earlier start in the same process left in appState: its
// window handles (gone with its windows), run state, stop request, volumes
// and stall limit.
void ResetAppState();

}  // namespace twtest
