#include "host/colour_settings.h"

namespace tarvo {

ColourSettings ColourSettingsOf(const TSpecs& s, bool inSetup) {
  ColourSettings c;
  c.vmin = s.Vmin;
  c.vmax = s.Vmax;
  c.vblack = s.Vblack;
  c.vwhite = s.Vwhite;
  c.knee = s.Knee;
  c.slope = s.Slope;
  c.lift = s.Lift;
  c.gain = s.Gain;
  c.gamma = s.Gamma;
  c.liftR = s.RLift;
  c.liftG = s.GLift;
  c.liftB = s.BLift;
  c.gainR = s.RGain;
  c.gainG = s.GGain;
  c.gainB = s.BGain;
  c.gammaR = s.RGamma;
  c.gammaG = s.GGamma;
  c.gammaB = s.BGamma;
  c.sat = s.Sat;
  c.procMode = s.ProcMode;
  c.neutral = ((inSetup || s.TestSignal == 1) && s.Bypass > 0) || s.TestSignal > 1;
  return c;
}

}  // namespace tarvo
