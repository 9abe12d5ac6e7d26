// What the fuzz targets share: one simulated box for the whole run (a temporary root under
// TMPDIR, a fake clock, no console trace), files written under its root, and the bring-up of
// the FPGA pair with cards behind their ports and of the C331 at rest.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/sim/sim_c331.h"

namespace fuzz {

// Selects the simulated box once; later calls do nothing.
void startBox();
// Replaces the file at a program path ("/data/x") with the bytes.
void writeFile(const std::string& absolute, const uint8_t* data, size_t n);
void removeFile(const std::string& absolute);
// Both FPGAs lit, cards found behind some of their ports, the FPGA flash readable.
void startFpgas();
// The C331 started and its thread stopped, so the caller is the only one talking to the chip.
std::shared_ptr<platform::sim::SimC331> startC331AtRest();
// A PC frame on the wire (start bytes, escaped body with its check byte, end byte) for the box
// command cmd with its data, from the PC.
std::string boxFrame(uint8_t cmd, const uint8_t* data, size_t n);

}  // namespace fuzz
