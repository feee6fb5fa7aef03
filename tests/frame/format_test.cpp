#include "frame/format.h"

#include <gtest/gtest.h>

using namespace frame;

// Known outputs of a Fortran run-time for the edit descriptors the system writes.
TEST(FortranFormat, ExponentFormDropsTheOptionalZeroWhenTheWidthIsFull) {
  EXPECT_EQ(fmtE(1.5f, 12, 6), "0.150000E+01");
  EXPECT_EQ(fmtE(-999.999f, 12, 6), "-.999999E+03");
  EXPECT_EQ(fmtE(0.0, 12, 6), "0.000000E+00");
  EXPECT_EQ(fmtE(-0.0, 12, 6), "-.000000E+00");
  EXPECT_EQ(fmtE(-0.5f, 12, 6), "-.500000E+00");
  EXPECT_EQ(fmtE(123456789.0f, 12, 6), "0.123457E+09");
  EXPECT_EQ(fmtE(1.0e-38f, 12, 6), "0.100000E-37");
  EXPECT_EQ(fmtE(-1.0e10f, 12, 6), "-.100000E+11");
  EXPECT_EQ(fmtE(12.5, 14, 8), "0.12500000E+02");
  EXPECT_EQ(fmtE(-12.5, 14, 8), "-.12500000E+02");
  EXPECT_EQ(fmtE(-1.5, 10, 6), "**********");
}

TEST(FortranFormat, GeneralFormChoosesByRoundedMagnitudeAndPadsWithFourBlanks) {
  EXPECT_EQ(fmtG(-999.999f, 12, 6), "-999.999    ");
  EXPECT_EQ(fmtG(0.5f, 12, 6), "0.500000    ");
  EXPECT_EQ(fmtG(100000.125f, 12, 6), " 100000.    ");
  EXPECT_EQ(fmtG(0.0, 12, 6), " 0.00000    ");
  EXPECT_EQ(fmtG(1.0e7f, 12, 6), "0.100000E+08");
  EXPECT_EQ(fmtG(1.5f, 12, 6), " 1.50000    ");
  EXPECT_EQ(fmtG(-0.5f, 12, 6), "-.500000    ");
  EXPECT_EQ(fmtG(0.001f, 12, 6), "0.100000E-02");
  EXPECT_EQ(fmtG(99999.95f, 12, 6), " 100000.    ");
  EXPECT_EQ(fmtG(0.09999999f, 12, 6), "0.100000    ");
  EXPECT_EQ(fmtG(999999.5f, 12, 6), "0.100000E+07");
  EXPECT_EQ(fmtG(-0.01f, 12, 6), "-.100000E-01");
  EXPECT_EQ(fmtG(100.5f, 20, 6), "         100.500    ");
  EXPECT_EQ(fmtG(123456.7f, 12, 6), " 123457.    ");
}

TEST(FortranFormat, FixedFormRoundsToEvenOnExactTiesAndOverflowsToAsterisks) {
  EXPECT_EQ(fmtF(1.5f, 10, 2), "      1.50");
  EXPECT_EQ(fmtF(-999.999f, 10, 2), "  -1000.00");
  EXPECT_EQ(fmtF(100000.125f, 10, 2), " 100000.12");
  EXPECT_EQ(fmtF(0.125, 10, 2), "      0.12");
  EXPECT_EQ(fmtF(0.375, 10, 2), "      0.38");
  EXPECT_EQ(fmtF(-0.001f, 10, 2), "     -0.00");
  EXPECT_EQ(fmtF(1.0e8f, 10, 2), "**********");
  EXPECT_EQ(fmtF(1.0e7f, 10, 2), "**********");
  EXPECT_EQ(fmtF(4.0, 4, 2), "4.00");
  EXPECT_EQ(fmtF(0.5, 4, 2), "0.50");
  EXPECT_EQ(fmtF(-0.5, 4, 2), "-.50");
  EXPECT_EQ(fmtF(-999.999f, 4, 2), "****");
  EXPECT_EQ(fmtF(2.5, 4, 0), "  2.");
  EXPECT_EQ(fmtF(3.5, 4, 0), "  4.");
}

TEST(FortranFormat, IntegersWithMinimumDigitsAndOverflow) {
  EXPECT_EQ(fmtI(5, 6), "     5");
  EXPECT_EQ(fmtI(3, 2, 2), "03");
  EXPECT_EQ(fmtI(7, 3, 3), "007");
  EXPECT_EQ(fmtI(2, 6, 6), "000002");
  EXPECT_EQ(fmtI(200, 10, 10), "0000000200");
  EXPECT_EQ(fmtI(1234567, 6), "******");
  EXPECT_EQ(fmtI(123, 2, 2), "**");
  EXPECT_EQ(fmtI(-7, 3, 3), "***");
  EXPECT_EQ(fmtI(-1, 5), "   -1");
}

TEST(FortranFormat, ListDirectedItems) {
  EXPECT_EQ(listInt(5), "           5");
  EXPECT_EQ(listInt(12345678), "    12345678");
  EXPECT_EQ(listReal(1.5f), "   1.50000000    ");
  EXPECT_EQ(listReal(-999.999f), "  -999.999023    ");
  EXPECT_EQ(listReal(0.1f), "  0.100000001    ");
  EXPECT_EQ(listReal(1.0e10f), "   1.00000000E+10");
}
