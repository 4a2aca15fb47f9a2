// SPDX-License-Identifier: MIT
// The sample class, function and variable the module has always exported.
#include "Quorvane2.h"

int nQuorvane = 0;

CQuorvane::CQuorvane() = default;

CQuorvane& CQuorvane::operator=(const CQuorvane&)
{
    // No state to copy.
    return *this;
}

int fnQuorvane() { return 42; }
