// The tests' wall-clock bounds that only catch a hang (a reply that never comes, a thread that
// never ends) scale with the build and the machine: ZEM_TEST_TIME_FACTOR multiplies them.
// scripts/test.sh sets it for each of its builds (the sanitizers and qemu run slower); on a
// slow or busy machine a person raises it by hand. A bound whose passing decides an outcome
// has no place here: such a test drives time through a seam or the box's own tick.
#pragma once

#include <chrono>

// ZEM_TEST_TIME_FACTOR, a number of at least 1 with at most 3 decimals (1 when unset or empty);
// any other value ends the program with one error line.
double timeFactor();
// A bound that only catches a hang, scaled by it.
int hangMs(int ms);
std::chrono::milliseconds hangBound(std::chrono::milliseconds bound);
// Whole seconds, rounded up (a `timeout` command's limit).
int hangSeconds(int seconds);
