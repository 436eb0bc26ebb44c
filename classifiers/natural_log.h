// The natural logarithm of a run of power values, bit for bit as the C
// library's logf. Internal to classifiers/.
#ifndef KVD_CLASSIFIERS_NATURAL_LOG_H
#define KVD_CLASSIFIERS_NATURAL_LOG_H

#include <cstdint>

namespace kvd_voice {

// out[k] = x[k] > 0 ? std::log(x[k]) : 0 for k = 0 .. count - 1; x and out
// must not overlap (a short last block works values of x again). With AVX2
// enabled, eight values at a time by the C library's own method (in one
// register with AVX-512 enabled too), once that method has been seen to
// give the library's results; otherwise value by value.
void LnOfPositives(const float* x, float* out, int32_t count);

// The eight-at-a-time way is taken with AVX2 enabled: the CPU has AVX2 and
// FMA, and the C library's logf works by the method it follows.
bool LnEightAtATimeAvailable();
// And the same in one register, with AVX-512 enabled: the CPU has AVX-512F.
bool LnEightInOneRegisterAvailable();

}  // namespace kvd_voice

#endif  // KVD_CLASSIFIERS_NATURAL_LOG_H
