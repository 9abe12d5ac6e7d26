// The box's video inputs by their numbers in the parameter store and on the C331's side.
#pragma once

constexpr int kDvi = 1, kHdmi1 = 2, kHdmi2 = 3, kHdmi3 = 4, kHdmi4 = 5;
