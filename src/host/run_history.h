// The run history: the planes that carry pictures from one call to the next
// for temporal smoothing, the rule that decides whether they belong to the
// frame just before (run detection), and the saves that fill them.
#pragma once

#include <cstdint>

#include "host/plane_reserve.h"
#include "planes/channel.h"

namespace tarvo {

// The three chains a history is kept for.
enum HistoryChain : int { kChainY = 0, kChainU = 1, kChainV = 2, kChainCount = 3 };

class RunHistory {
 public:
  static constexpr int kPrivateBytes = 64;  // the private block kept from call to call
  static constexpr int kClipBytes = 14;     // the private bytes that tell clips apart

  explicit RunHistory(PlaneReserver& reserver) : reserver_(reserver) {}
  RunHistory(const RunHistory&) = delete;
  RunHistory& operator=(const RunHistory&) = delete;

  // Run detection, once per call of the full processing path. The call
  // continues the run when its part follows the previous part, the total is
  // the same, at least one of the two temporal modes is the same and the
  // first kClipBytes of the private block are the same; RunLength then grows
  // by one, otherwise it becomes 0. The call's values are kept for the next.
  void Detect(int32_t part, int32_t total, int32_t yTempMode, int32_t cTempMode,
              const uint8_t (&privateBlock)[kPrivateBytes]);
  // The next call starts a new run (after a frame that was not finished).
  void Break() { breakRun_ = true; }
  int32_t RunLength() const { return runLength_; }

  // Notes which history planes hold a picture of the given plane sizes (Y at
  // width x height, Depth 1; U and V at cWidth x cHeight, Depth 2). Taken
  // before the planes are sized for the frame: a run that goes on across a
  // change of frame size, ProcMode or temporal mode finds no usable history
  // instead of one of the wrong size.
  void NoteUsable(int32_t width, int32_t height, int32_t cWidth, int32_t cHeight);
  // Whether temporal smoothing in `mode` (1 frame, 2 field) may compare the
  // chain's plane with Reference(chain, mode): the run holds enough calls and
  // the plane was usable when the frame started.
  bool RunCovers(int mode) const { return runLength_ >= mode; }
  bool Usable(int chain, int mode) const { return usable_[mode == 1 ? 0 : 1][chain]; }
  // The picture of the previous call (mode 1) or of two calls back (mode 2).
  TChannel& Reference(int chain, int mode) { return mode == 1 ? prev_[chain] : prev2_[chain]; }

  // Gives the planes a save of `mode` fills the working plane's size, so that
  // the save itself allocates nothing. Throws std::bad_alloc.
  void Reserve(int chain, int mode, int32_t width, int32_t height, int32_t depth);
  // Saves the chain's working plane by exchanging buffers, never by copying.
  // Mode 0 releases the history; 1 keeps `work` as the previous picture and
  // releases the one two back; 2 moves the previous picture to two back and
  // keeps `work` as the previous. Afterwards `work` holds a buffer of its size
  // with an unspecified picture. kNoSave does nothing.
  void Save(int chain, TChannel& work, int mode);
  // Forgets every picture and the run (after running out of memory).
  void Drop();

  const TChannel& Previous(int chain) const { return prev_[chain]; }
  const TChannel& SecondPrevious(int chain) const { return prev2_[chain]; }

 private:
  PlaneReserver& reserver_;
  TChannel prev_[kChainCount];
  TChannel prev2_[kChainCount];
  // [0]: prev_, [1]: prev2_ held a usable picture when this frame started.
  bool usable_[2][kChainCount] = {};

  int32_t runLength_ = 0;
  // The previous call of the full processing path.
  int32_t prevPart_ = 0;
  int32_t prevTotal_ = 0;
  int32_t prevYTempMode_ = 0;
  int32_t prevCTempMode_ = 0;
  uint8_t prevPrivate_[kPrivateBytes] = {};
  // Set at start and after a failed frame: the next call starts a new run.
  bool breakRun_ = true;
};

}  // namespace tarvo
