// SPDX-License-Identifier: MIT
// A decimal logarithm that gives the same double on every platform: C libraries' log10 may
// differ from each other in the last bit, and the reports print 17 digits.
#ifndef NOISE_PORTABLE_LOG10_H
#define NOISE_PORTABLE_LOG10_H

namespace noise_detail {

// log10(x), from additions, multiplications and divisions alone, carried in double-double
// precision (about 104 bits) and rounded once: the correctly rounded value for all but
// vanishingly rare arguments. Not a number below 0, minus infinity at 0.
double portable_log10(double x);

}  // namespace noise_detail

#endif
