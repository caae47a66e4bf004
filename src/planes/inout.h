// Input and output colour conversion with level and colour correction
// through lookup tables.
#pragma once

#include <cstdint>

#include "host/specs.h"
#include "planes/channel.h"
#include "planes/pix_buffer.h"

namespace tarvo {

// Receives every converted pixel of a dialog render (monitor accumulation).
class MonitorSink {
 public:
  virtual ~MonitorSink() = default;
  // level 0..255 relative to Vmin, colour differences u and v, picture column.
  virtual void Accumulate(int32_t level, int32_t u, int32_t v, int32_t column) = 0;
};

// The ProcMode a frame of this size is converted with: the record's mode when
// the frame's width and height are whole multiples of the chroma block, else
// 0 (4:4:4), so no sample is left unconverted.
int32_t EffectiveProcMode(int32_t procMode, int32_t width, int32_t height);

// Owns the level, weight and chroma tables; one per engine.
class ColourConverter {
 public:
  ColourConverter();  // fills the luminance weight tables

  // Sizes Y, U and V for the destination's size and the effective ProcMode,
  // rebuilds the tables when `changed` is set or the neutral case holds (then
  // clears `changed`), fills the planes from the source and copies every
  // source pixel's fourth byte into the destination.
  // Both frames must be usable (FrameIsUsable) and at least as large as the
  // destination's Bounds.
  void Input(const TPixBuffer& source, TPixBuffer& destination, const TSpecs& specs, bool inSetup,
             bool& changed, TChannel& y, TChannel& u, TChannel& v);

  // Writes the blue, green and red bytes of every destination pixel from the
  // planes; the fourth byte is left alone. With a sink, each converted pixel is
  // handed to it right after its conversion.
  void Output(const TChannel& y, const TChannel& u, const TChannel& v, TPixBuffer& destination,
              const TSpecs& specs, MonitorSink* sink);

  // Table access for tests and the monitors.
  const uint8_t* RedTable() const { return red_; }
  const uint8_t* GreenTable() const { return green_; }
  const uint8_t* BlueTable() const { return blue_; }
  const int32_t* ChromaTable() const { return chroma_; }

  // Rebuilds the tables for a record; neutral replaces every correction by
  // its neutral value.
  void BuildTables(const TSpecs& specs, bool neutral);

 private:
  uint8_t red_[256] = {};
  uint8_t green_[256] = {};
  uint8_t blue_[256] = {};
  int32_t chroma_[256] = {};
  int32_t weightR_[256] = {};
  int32_t weightG_[256] = {};
  int32_t weightB_[256] = {};
};

}  // namespace tarvo
