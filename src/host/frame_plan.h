// What one frame of full processing will do, worked out from the record, the
// call and the frame size before anything is written: the temporal modes, the
// branch (normal chains or one of the dialog's mask views), the planes each
// chain needs and the history saves.
#pragma once

#include <cstdint>

#include "host/call_state.h"
#include "types/specs.h"

namespace tarvo {

// A history save mode (0 none, 1 frame, 2 field), or kNoSave when the chain
// keeps the history it has.
constexpr int kNoSave = -1;

struct FramePlan {
  int32_t width = 0, height = 0;    // Y
  int32_t cWidth = 0, cHeight = 0;  // U and V
  int32_t yTempMode = 0, cTempMode = 0;  // 0 none, 1 frame, 2 field
  enum Branch { kNormal, kNoiseMaskView, kSharpMaskView } branch = kNormal;
  bool monitorOnly = false;  // in setup or TestSignal 1: the display views may be live
  bool showEdges = false;
  bool lumaChain = false;    // the normal luminance chain runs (else Y is 128)
  bool colourChain = false;  // the normal colour chain runs (else U, V are 0)
  // Planes the frame will use, so that all of them are sized before the
  // destination is touched.
  bool lumaScratch = false, lumaMask = false, lumaEdge = false, lumaBlur = false;
  bool chromaScratch = false, chromaMask = false, chromaEdge = false, chromaBlur = false;
  // History save modes (0, 1, 2) or kNoSave.
  int yHistory = kNoSave, cHistory = kNoSave;
  // The mask views: whether Y and the colour planes show a mask (else they
  // are filled with 128 and 0), and the mask's amount and offset.
  bool viewY = false, viewC = false;
  int viewAmount = 0, viewOffset = 0;
};

// Width and height of the colour planes for a (valid) ProcMode.
void ChromaSize(int32_t procMode, int32_t width, int32_t height, int32_t& cWidth, int32_t& cHeight);

FramePlan PlanFrame(const TSpecs& specs, const TDerived& derived, const CallState& call, int32_t width,
                    int32_t height);

}  // namespace tarvo
