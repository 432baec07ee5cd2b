// A synthetic fingerprint for the scanner to serve when it is given no
// image: ridges about 9 pixels apart (508 dpi), a whorl with some ridge
// endings and forks, inside an elliptical finger mask on a light
// background.
#ifndef BLUEFIN_EMULATOR_SYNTHETIC_FINGER_H
#define BLUEFIN_EMULATOR_SYNTHETIC_FINGER_H

#include <cstdint>

#include "emulator/delta_encoder.h"

namespace bluefin::emu {

// The same seed gives the same image; seeds move the core, the minutiae
// and the noise.
Image MakeSyntheticFinger(std::uint32_t seed);

}  // namespace bluefin::emu

#endif  // BLUEFIN_EMULATOR_SYNTHETIC_FINGER_H
