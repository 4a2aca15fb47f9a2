// SPDX-License-Identifier: MIT
// Standard output, whose loss is a failure: a program that cannot write its
// results must not say it succeeded. A reader that went away (a closed pipe,
// "| head") only ends the printing.
#pragma once

#include <cstddef>

// Before anything runs: false (with the reason on standard error) when
// standard output is closed. A closed standard error or input is given
// /dev/null, so that no socket or file of the session takes their numbers.
bool checkStandardStreams();

// Writes and flushes; on an error other than a closed pipe, says so on
// standard error and ends the program with status 1.
void printOutput(const char* text, std::size_t size);
void flushOutput();
