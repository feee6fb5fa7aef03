#pragma once
// The ASC value text as the writer first produced it, kept as the yardstick for the faster
// formatter: " " + E12.6 from the library's correctly rounded scientific form, rearranged.
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>

#include "frame/format.h"

namespace asc_reference {

inline void appendAscValue(std::string& out, float v) {
  char buf[40];
  const double d = v;
  if (!std::isfinite(d)) {
    out += ' ';
    out += frame::fmtE(d, 12, 6);
    return;
  }
  char* p = buf;
  *p++ = ' ';
  if (d == 0.0) {
    std::memcpy(p, std::signbit(d) ? "-.000000E+00" : "0.000000E+00", 12);
    out.append(buf, 13);
    return;
  }
  char s[32];
  auto r = std::to_chars(s, s + sizeof s, std::fabs(d), std::chars_format::scientific, 5);
  const char* q = s;
  const char* end = r.ptr;
  const char digit0 = q[0];
  const char* frac = q + 2;
  const char* e = frac + 5;
  int exp10 = 0;
  bool neg = e[1] == '-';
  for (const char* x = e + 2; x < end; ++x) exp10 = exp10 * 10 + (*x - '0');
  if (neg) exp10 = -exp10;
  exp10 += 1;
  if (d < 0) {
    *p++ = '-';
  } else {
    *p++ = '0';
  }
  *p++ = '.';
  *p++ = digit0;
  std::memcpy(p, frac, 5);
  p += 5;
  *p++ = 'E';
  *p++ = exp10 < 0 ? '-' : '+';
  const int a = exp10 < 0 ? -exp10 : exp10;
  *p++ = static_cast<char>('0' + a / 10);
  *p++ = static_cast<char>('0' + a % 10);
  out.append(buf, static_cast<size_t>(p - buf));
}

}  // namespace asc_reference
