#include "frame/format.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace frame {
namespace {

std::string stars(int w) {
  return std::string(static_cast<size_t>(w > 0 ? w : 0), '*');
}

std::string rightAlign(const std::string& s, int w) {
  if (static_cast<int>(s.size()) > w) return stars(w);
  return std::string(static_cast<size_t>(w) - s.size(), ' ') + s;
}

// Fixed-point text of value with d decimals, without padding; "-0.50" style.
std::string fixedText(double value, int d) {
  char buf[400];
  std::snprintf(buf, sizeof buf, "%.*f", d, value);
  std::string s = buf;
  if (d == 0) s += '.';
  return s;
}

// Fits a fixed/exponent text into w characters, dropping an optional leading zero first.
std::string fitWidth(std::string s, int w) {
  if (static_cast<int>(s.size()) > w) {
    // "0." or "-0." at the front: the zero is optional.
    if (s.rfind("0.", 0) == 0) {
      s.erase(0, 1);
    } else if (s.rfind("-0.", 0) == 0) {
      s.erase(1, 1);
    }
  }
  return rightAlign(s, w);
}

// Decimal digits and exponent of value rounded to d significant digits: value = 0.DIGITS * 10**exp.
void sigDigits(double value, int d, std::string& digits, int& exp10) {
  if (value == 0.0) {
    digits.assign(static_cast<size_t>(d), '0');
    exp10 = 0;
    return;
  }
  // D.DDDDDe[+-]XX, correctly rounded from the exact value.
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf - 1, std::fabs(value), std::chars_format::scientific, d - 1);
  *r.ptr = '\0';
  digits.clear();
  const char* p = buf;
  for (; *p && *p != 'e'; ++p) {
    if (*p >= '0' && *p <= '9') digits += *p;
  }
  exp10 = std::atoi(p + 1) + 1;
}

}  // namespace

std::string fmtI(long long value, int w, int m) {
  std::string digits = std::to_string(value < 0 ? -value : value);
  if (m >= 0) {
    if (m == 0 && value == 0) digits.clear();
    while (static_cast<int>(digits.size()) < m) digits.insert(0, 1, '0');
  }
  if (value < 0) digits.insert(0, 1, '-');
  return rightAlign(digits, w);
}

std::string fmtF(double value, int w, int d) {
  if (!std::isfinite(value)) {
    std::string s = std::isnan(value) ? "NaN" : (value < 0 ? "-Infinity" : "Infinity");
    if (static_cast<int>(s.size()) > w && std::isinf(value)) s = value < 0 ? "-Inf" : "Inf";
    return rightAlign(s, w);
  }
  return fitWidth(fixedText(value, d), w);
}

void appendE(std::string& out, double value, int w, int d) {
  out += fmtE(value, w, d);
}

std::string fmtE(double value, int w, int d) {
  if (!std::isfinite(value)) return fmtF(value, w, d);
  std::string digits;
  int e = 0;
  sigDigits(value, d, digits, e);
  std::string s;
  if (std::signbit(value)) s += '-';
  s += "0.";
  s += digits;
  char eb[16];
  int ae = e < 0 ? -e : e;
  if (ae <= 99) {
    std::snprintf(eb, sizeof eb, "E%c%02d", e < 0 ? '-' : '+', ae);
  } else {
    std::snprintf(eb, sizeof eb, "%c%03d", e < 0 ? '-' : '+', ae);
  }
  s += eb;
  return fitWidth(s, w);
}

std::string fmtG(double value, int w, int d) {
  if (!std::isfinite(value)) return fmtF(value, w, d);
  const int n = 4;  // blanks that stand in for the exponent field
  if (value == 0.0) {
    std::string s = fitWidth(fixedText(value, d - 1), w - n);
    return s + std::string(n, ' ');
  }
  std::string digits;
  int k = 0;
  sigDigits(value, d, digits, k);
  if (k < 0 || k > d) return fmtE(value, w, d);
  std::string s = fitWidth(fixedText(value, d - k), w - n);
  return s + std::string(n, ' ');
}

std::string listInt(long long value) {
  return fmtI(value, 12);
}

std::string listReal(float value) {
  // The run-time's list-directed form of a single-precision real: nine significant digits,
  // F form between 0.1 and 1e9, otherwise a scaled exponent form 1PE16.8.
  const double v = value;
  const double a = std::fabs(v);
  if (!std::isfinite(v)) return " " + fmtF(v, 16, 0);
  if (v == 0.0 || (a >= 0.1 && a < 1.0e9)) return " " + fmtG(v, 16, 9);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.8E", v);  // d.ddddddddE+xx
  return " " + rightAlign(buf, 16);
}

}  // namespace frame
