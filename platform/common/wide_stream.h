// SPDX-License-Identifier: MIT
// The stream behind WideStream: UTF-16 in, UTF-8 out, on a C FILE. Shared by
// the platforms; each opens its files in its own way.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>

#include "runtime_api.h"

// Takes ownership of `file` (null gives null). `complete`, if given, runs
// when the stream closes with everything written, before the file is closed
// (to name the file only when whole, or to flush it to the disk); false
// fails the close. `written`, if given, hears how many bytes the file holds
// after each piece that went out.
WideStream* adoptWideStream(std::FILE* file, std::function<bool()> complete = {},
                            std::function<void(std::uint64_t)> written = {});
