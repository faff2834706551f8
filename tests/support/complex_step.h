// The derivatives of a model's summed log-likelihood by complex steps: the
// literal filter run in complex arithmetic with one input element moved by
// 1e-30*i, whose imaginary part is the derivative to rounding, unlike a
// difference quotient. Decisions are taken on the real parts, which are
// formed exactly as the real filter forms them (complex_step.cpp), so that
// the derivative is that of the filter's own branch: correlated noise
// through the decorrelated series, a diffuse start (+inf on P0's diagonal)
// through the exact diffuse steps.
#pragma once

#include "random_model.h"

#include <vector>

namespace testing_support {

// The derivative with respect to every element of A, B, C, D (one page, or T
// pages when paged), of the first m elements of x0, and the symmetric one of
// P0 (m x m: the change of the sum is the sum of G(i, l)*dP0(i, l) for a
// symmetric dP0, so an element off the diagonal is half the derivative of a
// step moving it and its mirror together).
struct ModelGradient {
  std::vector<double> A, B, C, D, x0, P0;
};

ModelGradient complexStepGradient(const ModelVectors &model);

// The innovation variance F of every present observation, as the filter
// forms it at the model's tol: for choosing a tol that passes some over and
// stays clear of every F, where the summed log-likelihood jumps.
std::vector<double> innovationVariances(const ModelVectors &model);

// F_inf / ((sum of c_q^2) * the largest |element| P_inf has had) of every
// present observation of a diffuse phase, as the filter forms them: where
// one lies near the rule's 1e-9, the model tests the threshold, not the code.
std::vector<double> diffuseVarianceRatios(const ModelVectors &model);

}  // namespace testing_support
