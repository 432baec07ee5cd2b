#include "emulator/synthetic_finger.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace bluefin::emu {
namespace {

// splitmix64: small, and the same sequence on every platform, unlike the
// standard distributions.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}

  double Uniform(double low, double high) {
    return low + (high - low) * static_cast<double>(Next() >> 11) * 0x1.0p-53;
  }

 private:
  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }

  std::uint64_t state_;
};

// A ridge ending or a fork: a spiral phase term around a point adds or
// drops one ridge there, and the ridges around it stay continuous.
struct Minutia {
  double x;
  double y;
  double turns;
};

constexpr double kRidgePeriod = 9.0;
constexpr double kCentreX = 128.0;
constexpr double kCentreY = 182.0;
constexpr double kSemiAxisX = 104.0;
constexpr double kSemiAxisY = 162.0;
constexpr int kMinutiae = 18;

double SmoothStep(double edge0, double edge1, double x) {
  const double t = std::clamp((x - edge0) / (edge1 - edge0), 0.0, 1.0);
  return t * t * (3.0 - 2.0 * t);
}

}  // namespace

Image MakeSyntheticFinger(std::uint32_t seed) {
  Random random(0x5EED0000ull + seed);
  const double coreX = kCentreX + random.Uniform(-12.0, 12.0);
  const double coreY = 150.0 + random.Uniform(-15.0, 15.0);
  const double warpPhase = random.Uniform(0.0, 2.0 * std::numbers::pi);
  std::array<Minutia, kMinutiae> minutiae{};
  for (Minutia &minutia : minutiae) {
    // Rejection keeps them inside the finger and away from the core, whose
    // own singularity is enough there.
    do {
      minutia.x = random.Uniform(kCentreX - kSemiAxisX, kCentreX + kSemiAxisX);
      minutia.y = random.Uniform(kCentreY - kSemiAxisY, kCentreY + kSemiAxisY);
    } while (std::hypot((minutia.x - kCentreX) / kSemiAxisX, (minutia.y - kCentreY) / kSemiAxisY) > 0.85 ||
             std::hypot(minutia.x - coreX, minutia.y - coreY) < 25.0);
    minutia.turns = random.Uniform(0.0, 1.0) < 0.5 ? -1.0 : 1.0;
  }

  Image image(kImagePixels);
  for (std::size_t row = 0; row < kImageHeight; ++row) {
    for (std::size_t column = 0; column < kImageWidth; ++column) {
      const double x = static_cast<double>(column);
      const double y = static_cast<double>(row);
      // A slow warp keeps the rings from looking drawn with compasses.
      const double wx = x + 3.0 * std::sin(y / 37.0 + warpPhase);
      const double wy = y + 3.0 * std::sin(x / 29.0 - warpPhase);
      double dx = wx - coreX;
      const double dy = (wy - coreY) * 0.88;
      // Below the core the rings open out into the flatter arches that run
      // across the lower phalanx.
      dx *= 1.0 - 0.55 * SmoothStep(0.0, 170.0, dy);
      const double radius = std::hypot(dx, dy);
      double phase = 2.0 * std::numbers::pi * radius / kRidgePeriod + std::atan2(dy, dx);
      for (const Minutia &minutia : minutiae) {
        phase += minutia.turns * std::atan2(y - minutia.y, x - minutia.x);
      }
      const double ridge = std::pow(0.5 + 0.5 * std::cos(phase), 0.8);

      const double ellipse = std::hypot((x - kCentreX) / kSemiAxisX, (y - kCentreY) / kSemiAxisY);
      const double inside = 1.0 - SmoothStep(0.9, 1.0, ellipse);
      // Pressure is firmest in the middle of the pad and fades to the rim.
      const double pressure = 0.55 + 0.45 * (1.0 - SmoothStep(0.3, 1.0, ellipse));
      const double finger = 218.0 - 165.0 * pressure * ridge + random.Uniform(-7.0, 7.0);
      const double paper = 236.0 + random.Uniform(-3.0, 3.0);
      const double value = inside * finger + (1.0 - inside) * paper;
      image[row * kImageWidth + column] = static_cast<std::uint8_t>(std::clamp(std::lround(value), 0l, 255l));
    }
  }
  return image;
}

}  // namespace bluefin::emu
