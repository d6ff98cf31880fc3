#pragma once

#include <cstdint>
#include <optional>

namespace sondrel {

// A point or span of time as a rational number: `value` / `timescale` seconds. A timescale
// of 0 or below marks an invalid time (the result of an overflow or of invalid operands).
struct MediaTime {
    std::int64_t value = 0;
    std::int32_t timescale = 0;

    bool valid() const { return timescale > 0; }
};

// Largest timescale a sum or difference of two times with different timescales is given
// when their least common multiple does not fit (nanoseconds).
inline constexpr std::int32_t MEDIA_TIME_MAX_TIMESCALE = 1'000'000'000;

// a + b and a - b. Equal timescales are kept exactly; otherwise the least common multiple
// of both timescales is used when it fits, else MEDIA_TIME_MAX_TIMESCALE with rounding to
// nearest. Invalid when an operand is invalid or the result overflows.
MediaTime mediaTimeAdd(MediaTime a, MediaTime b);
MediaTime mediaTimeSubtract(MediaTime a, MediaTime b);

// The time in seconds; NaN for an invalid time.
double mediaTimeSeconds(MediaTime t);

// The time counted in units of 1/`unitsPerSecond` s (frames at a rate, milliseconds,
// microseconds), truncated toward zero and exact: no trip through floating point, so a
// gap of 27 frames at 48 kHz is 27 frames. Nullopt for an invalid time or on overflow.
// `unitsPerSecond` must lie in 1 .. 2^31.
std::optional<std::int64_t> mediaTimeInUnits(MediaTime t, std::int64_t unitsPerSecond);

}  // namespace sondrel
