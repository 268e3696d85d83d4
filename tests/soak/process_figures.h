// What this process holds, read from /proc: open descriptors, threads and
// resident memory.
#pragma once

namespace twtest {

struct ProcessFigures {
  int descriptors = 0;
  int threads = 0;
  long residentKb = 0;
};

ProcessFigures ReadProcessFigures();

}  // namespace twtest
