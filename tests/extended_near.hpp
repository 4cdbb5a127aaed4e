// EXPECT_NEAR converts to double, which hides (or invents) differences below double
// precision; the numerics are checked in the extended format itself.
#pragma once

#include <cmath>
#include <iomanip>

#include <gtest/gtest.h>

inline ::testing::AssertionResult ExtendedNear(const char* a_expr, const char* b_expr,
                                               const char* tol_expr, long double a, long double b,
                                               long double tol) {
  if (std::fabs(a - b) <= tol) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << std::setprecision(21) << a_expr << " = " << a << " and " << b_expr << " = " << b
         << " differ by " << std::fabs(a - b) << ", more than " << tol_expr << " = " << tol;
}

#define EXPECT_EXT_NEAR(a, b, tol) EXPECT_PRED_FORMAT3(ExtendedNear, a, b, tol)
