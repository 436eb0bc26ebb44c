// Whether a run of floats, added one after another in float, comes below a
// limit, without adding them in order unless it is close. Internal to
// classifiers/.
#ifndef KVD_CLASSIFIERS_ORDERED_SUM_H
#define KVD_CLASSIFIERS_ORDERED_SUM_H

#include <cstdint>

namespace kvd_voice {

// The same as: float sum = 0; for k in 0 .. count - 1: sum += x[k];
// return sum < limit. The sum is first taken in double, four values at a
// time; only when it lies within the ordered float sum's rounding error of
// the limit (or the values are not finite, or so large the float sum might
// overflow) are the values added in order.
bool OrderedFloatSumBelow(const float* x, int32_t count, float limit);

}  // namespace kvd_voice

#endif  // KVD_CLASSIFIERS_ORDERED_SUM_H
