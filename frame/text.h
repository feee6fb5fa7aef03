#pragma once
// Item extraction from command lines and the small string helpers.
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

#include "frame/frame.h"

namespace frame {

// CHARL: position of the last character that is neither blank nor NUL (first 1000 looked at).
int CHARL(std::string_view s);
// CASEF: upper-cases a..z in the used part.
void CASEF(std::string& s);
std::string upper(std::string_view s);
std::string trimmed(std::string_view s);
// The same, in place: the view without the blanks at its ends.
std::string_view trimmedView(std::string_view s);
std::string trimRight(std::string_view s);
// SHOVE: edits s(first:last) in place (1-based); mode 1 shift left, 2 squeeze blanks,
// 4 cut after the last non-blank. last is updated.
void SHOVE(std::string& s, int first, int& last, int mode);
// GUMEXT: forces the extension of the file part of name; a blank extension strips it.
std::string GUMEXT(const std::string& name, std::string_view extension);

// PARAM: item n of line, separator "," by default; a second separator character "=" keeps
// the name= part. Returns the item's length: 0 empty, -1 absent.
int PARAM(Frame& fr, std::string_view line, int n, std::string& result, std::string_view separator = ",",
          int resultLength = 200);

// UNFORM: converts item n by type ("I2", "I4", "R4", "R8"); an absent or empty item leaves
// value unchanged; a conversion error stops the run.
void UNFORM(Frame& fr, std::string_view line, int n, std::string_view type, int16_t& value,
            std::string_view separator = ",");
void UNFORM(Frame& fr, std::string_view line, int n, std::string_view type, int32_t& value,
            std::string_view separator = ",");
void UNFORM(Frame& fr, std::string_view line, int n, std::string_view type, float& value,
            std::string_view separator = ",");
void UNFORM(Frame& fr, std::string_view line, int n, std::string_view type, double& value,
            std::string_view separator = ",");

// NAMEDV / NAMEDS: the item NAME=value of the line; true when found.
bool NAMEDV(Frame& fr, std::string_view line, std::string_view name, std::string_view type, int32_t& value);
bool NAMEDV(Frame& fr, std::string_view line, std::string_view name, std::string_view type, float& value);
bool NAMEDS(Frame& fr, std::string_view line, std::string_view name, std::string& value, int& valueLength);

// Number conversion as a Fortran formatted read of the whole item (blanks ignored).
bool parseFortranInteger(std::string_view text, int64_t& value);
bool parseFortranReal(std::string_view text, double& value);
bool parseFortranReal(std::string_view text, float& value);

// Item n of a data line (comma-separated) as a number: PARAM's item read by parseFortranReal;
// false when it is absent, empty or not a number. A line without backticks, dollar or equals
// signs has its item taken in place (the comma-separated text, blanks trimmed, which is what
// PARAM gives it), without PARAM's copies; a line with them, or an item too long for PARAM,
// goes through PARAM.
bool numberItem(Frame& fr, std::string_view line, int n, double& value);
bool numberItem(Frame& fr, std::string_view line, int n, float& value);

// A short decimal, "[-]digits[.digits][E[+-]digits]" (digits on at least one side of the point),
// read as from_chars reads it (the nearest float or double) without its cost: its digits as a
// whole number that the type holds exactly, times or divided by a power of ten that it holds
// exactly, which one correctly rounded operation makes the nearest value. A float whose digits
// or power are beyond that is read through the double nearest the decimal, which rounds to the
// float nearest it unless it lies exactly halfway between two floats (a halfway point is itself
// a double, so none can lie between the decimal and its nearest double). False (value
// untouched) for any other text, longer digits and that halfway case included: from_chars
// then reads it.
template <typename T>
inline bool shortDecimal(std::string_view text, T& value) {
  static_assert(std::is_same_v<T, float> || std::is_same_v<T, double>);
  // Whole numbers up to 2^24 (2^53) and powers of ten up to 10^10 (10^22) are exact.
  constexpr uint64_t kLargest = std::is_same_v<T, float> ? (uint64_t{1} << 24) : (uint64_t{1} << 53);
  constexpr int kMostTens = std::is_same_v<T, float> ? 10 : 22;
  constexpr uint64_t kLargestDouble = uint64_t{1} << 53;
  static constexpr double kTens[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                     1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  const char* const end = text.data() + text.size();
  const char* c = text.data();
  const bool negative = c != end && *c == '-';
  if (negative) ++c;
  // The digits before the point and after it, as one whole number.
  uint64_t whole = 0;
  auto digits = [&]() {
    const char* from = c;
    for (; c != end && static_cast<unsigned char>(*c - '0') <= 9; ++c) {
      whole = whole * 10 + static_cast<uint64_t>(*c - '0');
      if (whole > kLargestDouble) return -1;
    }
    return static_cast<int>(c - from);
  };
  const int before = digits();
  if (before < 0) return false;
  int after = 0;
  if (c != end && *c == '.') {
    ++c;
    after = digits();
    if (after < 0) return false;
  }
  if (before + after == 0) return false;
  size_t k = static_cast<size_t>(c - text.data());
  int exponent = 0;
  if (k < text.size()) {
    if (text[k] != 'E' && text[k] != 'e') return false;
    ++k;
    const bool down = k < text.size() && text[k] == '-';
    if (k < text.size() && (text[k] == '-' || text[k] == '+')) ++k;
    if (k == text.size()) return false;
    for (; k < text.size(); ++k) {
      if (text[k] < '0' || text[k] > '9' || exponent > 999) return false;
      exponent = exponent * 10 + (text[k] - '0');
    }
    if (down) exponent = -exponent;
  }
  const int tens = exponent - after;
  if (whole <= kLargest && tens >= -kMostTens && tens <= kMostTens) {
    const T w = static_cast<T>(whole);
    const T v = tens < 0 ? w / static_cast<T>(kTens[-tens]) : w * static_cast<T>(kTens[tens]);
    value = negative ? -v : v;
    return true;
  }
  if constexpr (std::is_same_v<T, float>) {
    if (tens < -22 || tens > 22) return false;
    const double w = static_cast<double>(whole);
    const double d = tens < 0 ? w / kTens[-tens] : w * kTens[tens];
    const float f = static_cast<float>(d);
    if (!std::isfinite(f)) return false;
    if (static_cast<double>(f) != d) {
      // The float on the other side of d; d halfway between them is left to from_chars, and so
      // are the ends of the range (no float beyond, or below the normal floats).
      const float g = std::nextafter(f, static_cast<double>(f) < d ? HUGE_VALF : -HUGE_VALF);
      if (!std::isfinite(g) || std::fabs(d) < FLT_MIN) return false;
      if ((static_cast<double>(f) + static_cast<double>(g)) * 0.5 == d) return false;
    }
    value = negative ? -f : f;
    return true;
  }
  return false;
}

}  // namespace frame
