// The frame's names for the row engine, which lives in the host so the host's own row
// operations run on it too.
#pragma once

#include "frame/Frame.h"
#include "host/RowEngine.h"

namespace fx {

using host::DiscardRead;
using host::NoHostCall;
using host::NoWrite;
using host::ParallelFor;
using host::ParallelMinPixels;
using host::RowSlots;
using host::RunRows;
using host::SetParallelMinPixels;
using host::WriteRow;

// Threads the frame uses for effects called on this thread (see host::ThreadCount).
inline int32_t FrameThreadCount() {
  return host::ThreadCount();
}

}  // namespace fx
