#pragma once
// Numbers written the way a Fortran run-time writes them with an edit descriptor.
// Listing lines, ASC and HDR files use these; nothing else formats numbers for files.
#include <cstdint>
#include <string>

namespace frame {

// Iw and Iw.m: right-aligned in w characters, at least m digits; asterisks on overflow.
std::string fmtI(long long value, int w, int m = -1);
// Fw.d: fixed point with d decimals; the leading zero goes when the width has no room.
std::string fmtF(double value, int w, int d);
// Ew.d: 0.ddddddE+xx form with d digits after the point.
std::string fmtE(double value, int w, int d);
// Gw.d: F form (padded with four trailing blanks) for 0.1 <= |value| < 10**d, E form otherwise.
std::string fmtG(double value, int w, int d);
// List-directed output of one item, with the separating blank that precedes it.
std::string listInt(long long value);
std::string listReal(float value);
// Append the same text to out (avoids temporaries in hot writers).
void appendE(std::string& out, double value, int w, int d);

}  // namespace frame
