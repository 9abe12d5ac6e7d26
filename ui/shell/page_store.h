// The parameter RAM as pages read it: the store, a word a refresh brought a change to, a word
// not yet saved, the window whose sound the tools and the home screen show, and a window's on bit.
#pragma once

#include "core/zem_ram_para.h"

ZemRamPara& store();
// In a page's refresh: the u16 at addr, or a byte of [from, to), changed since the refresh before.
bool wordChanged(int addr);
bool bytesChanged(int from, int to);
// The u16 at addr differs from what the parameter file holds (a write not yet saved, a page's
// own included).
bool wordUnsaved(int addr) REQUIRES(c331_manage::c331_mutex);
// The audio window (parameter RAM 2112), 0 when that byte names no window.
int audioWindow() EXCLUDES(c331_manage::c331_mutex);
// The address of the audio window's sound word (bit 15 set: sound on).
int audioWord() EXCLUDES(c331_manage::c331_mutex);
// Window w's sound word.
int audioWordOf(int w);
// Bit 0 of the window's flags word.
bool windowOn(int w) EXCLUDES(c331_manage::c331_mutex);
// The u16 at addr of the RAM as the last refresh copied it, under the locks of the threads that
// write it: what a page that only shows the RAM (the home screen) reads while PCs write.
uint16_t shown16(int addr);
// That copy's word taken as a signed number, as the home screen shows brightness and contrast.
int shownSigned16(int addr);
