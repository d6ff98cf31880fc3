#pragma once

// Hue and the colour predicates of the active-speaker highlights. Channels are byte
// values 0..255 as doubles; every hue test is made in both byte orders.
namespace tessival {

inline constexpr double SAT_THRESH = 0.45;
inline constexpr double VAL_THRESH = 0.4;

// HSV hue in degrees, 0 <= hue < 360, or -1 for a grey.
double hueDeg(double r, double g, double b);

// The green ring drawn round the speaking participant (Zoom-style).
bool isGreenRingPixel(double r, double g, double b);
// The purple/indigo ring (Teams-style).
bool isTeamsRingPixel(double r, double g, double b);
// Either ring colour, green tested first.
bool isRingPixel(double r, double g, double b);

}  // namespace tessival
