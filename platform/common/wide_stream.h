// The stream behind WideStream: UTF-16 in, UTF-8 out, on a C FILE. Shared by
// the platforms; each opens its files in its own way.
#pragma once

#include <cstdio>

#include "runtime_api.h"

// Takes ownership of `file` (null gives null).
WideStream* adoptWideStream(std::FILE* file);
