// SPDX-License-Identifier: MIT
// The password of a log-in, kept out of what other users can see: read from
// standard input (without echo on a terminal) when the command line says
// "-", and wiped from the command line at once when it was given there.
#pragma once

#include <optional>
#include <string>

// Reads one line from standard input; on a terminal it asks for it on
// standard error and shows nothing typed. Empty when there is no line.
std::optional<std::string> readPassword();

// Overwrites a command-line argument in place, so that ps and /proc no
// longer show it.
void wipeArgument(char* argument);
