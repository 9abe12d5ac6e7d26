// The parameter RAM as pages read it: the store, a word changed since the last persist (its
// shadow copy), the window whose sound the tools and the home screen show, and a window's on bit.
#pragma once

#include "core/zem_ram_para.h"

ZemRamPara& store();
// The u16 at addr differs from its shadow copy (a refresh brought a change there).
bool wordChanged(int addr);
// The audio window (parameter RAM 2112), 0 when that byte names no window.
int audioWindow();
// The address of the audio window's sound word (bit 15 set: sound on).
int audioWord();
// Bit 0 of the window's flags word.
bool windowOn(int w);
