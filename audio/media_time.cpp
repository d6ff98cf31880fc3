#include "media_time.h"

#include <cmath>
#include <limits>
#include <numeric>
#include <optional>

namespace sondrel {
namespace {

// `value` re-expressed over `timescale`, rounded to nearest; nullopt on overflow.
std::optional<std::int64_t> rescale(MediaTime t, std::int32_t timescale) {
    if (t.timescale == timescale) return t.value;
    // Split into whole seconds and remainder so the multiplication cannot overflow for any
    // realistic clock value.
    const std::int64_t seconds = t.value / t.timescale;
    const std::int64_t remainder = t.value % t.timescale;
    std::int64_t whole = 0;
    if (__builtin_mul_overflow(seconds, static_cast<std::int64_t>(timescale), &whole)) {
        return std::nullopt;
    }
    const long double part =
        static_cast<long double>(remainder) * timescale / static_cast<long double>(t.timescale);
    std::int64_t result = 0;
    if (__builtin_add_overflow(whole, std::llround(part), &result)) return std::nullopt;
    return result;
}

std::int32_t commonTimescale(std::int32_t a, std::int32_t b) {
    if (a == b) return a;
    const std::int64_t lcm = std::lcm(static_cast<std::int64_t>(a), static_cast<std::int64_t>(b));
    if (lcm <= std::numeric_limits<std::int32_t>::max()) return static_cast<std::int32_t>(lcm);
    return MEDIA_TIME_MAX_TIMESCALE;
}

template <typename Op>
MediaTime combine(MediaTime a, MediaTime b, Op op) {
    if (!a.valid() || !b.valid()) return {};
    const std::int32_t timescale = commonTimescale(a.timescale, b.timescale);
    const auto va = rescale(a, timescale);
    const auto vb = rescale(b, timescale);
    if (!va || !vb) return {};
    std::int64_t value = 0;
    if (op(*va, *vb, &value)) return {};
    return {value, timescale};
}

}  // namespace

MediaTime mediaTimeAdd(MediaTime a, MediaTime b) {
    return combine(a, b, [](std::int64_t x, std::int64_t y, std::int64_t* out) {
        return __builtin_add_overflow(x, y, out);
    });
}

MediaTime mediaTimeSubtract(MediaTime a, MediaTime b) {
    return combine(a, b, [](std::int64_t x, std::int64_t y, std::int64_t* out) {
        return __builtin_sub_overflow(x, y, out);
    });
}

double mediaTimeSeconds(MediaTime t) {
    if (!t.valid()) return std::numeric_limits<double>::quiet_NaN();
    const std::int64_t seconds = t.value / t.timescale;
    const std::int64_t remainder = t.value % t.timescale;
    return static_cast<double>(seconds) + static_cast<double>(remainder) / t.timescale;
}

std::optional<std::int64_t> mediaTimeInUnits(MediaTime t, std::int64_t unitsPerSecond) {
    if (!t.valid()) return std::nullopt;
    // Whole seconds and remainder keep both products inside 64 bits; both parts carry the
    // sign of `value`, so their truncated sum is the truncated whole.
    const std::int64_t seconds = t.value / t.timescale;
    const std::int64_t remainder = t.value % t.timescale;
    std::int64_t whole = 0;
    if (__builtin_mul_overflow(seconds, unitsPerSecond, &whole)) return std::nullopt;
    std::int64_t result = 0;
    if (__builtin_add_overflow(whole, remainder * unitsPerSecond / t.timescale, &result)) {
        return std::nullopt;
    }
    return result;
}

}  // namespace sondrel
