// The LED-size handshake with the FPGA and C331 threads, for every writer of the LED screen size
// (the PC's mode recall, the LED set-up page).
#pragma once

class ZemRamPara;
class fpga_manage;

// Both FPGAs run (register 80 of each mirror reads 3); false while there is no FPGA manager.
// Ask before taking the C331 mutex: the FPGA side's locks come after it.
bool led_fpgas_running(fpga_manage* f);

// A new LED screen size (RAM 1378 / 1380 against what the C331 thread last applied) reaches
// the outputs through the size handshake, once both FPGAs run. Caller holds the C331 mutex and
// raises the apply only after this: a C331 thread that found no handshake would re-initialise
// the panel at once, and the FPGA side's blanking would then never end in a reset.
void led_size_handshake_locked(const ZemRamPara* store, bool fpgas_run);
