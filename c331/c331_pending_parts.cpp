// Chip operations that the thread and the apply call in their place but whose work comes with
// the window, input-channel, picture, OSD, font and debug code; each does nothing yet.
#include "c331/c331_manage.h"

void c331_manage::update_overlay_info() {}
void c331_manage::set_overlay(int) {}
void c331_manage::reset_layer_coef(int, int) {}
void c331_manage::set_layer_coef(int, int, int, int) {}
void c331_manage::reset_act(int, int) {}
void c331_manage::set_display_window_och(int, const _ImageWindowDef_st*, const _ImageWindowDef_st*,
                                         int) {}
void c331_manage::set_freeze(int, int) {}
void c331_manage::wait1_povs(int, int) {}
void c331_manage::get_och(int, int*) {}
void c331_manage::set_oscwct(int, int) {}
void c331_manage::set_lut_hshrnk(int, int, int, int) {}
void c331_manage::set_lut_vshrnk_4sym(int, int, int, int) {}
void c331_manage::set_iscwct(int, int) {}
void c331_manage::set_mct(int, int, int) {}
void c331_manage::set_ip(int, int) {}
void c331_manage::c331_SetBrightness(int) {}
void c331_manage::c331_SetContrast(int) {}
void c331_manage::c331_SetSharpness(int) {}
void c331_manage::c331_SetSaturation(int) {}
void c331_manage::c331_SetColorTemp(uint32_t) {}
void c331_manage::c331_debugEnv() {}
void c331_manage::zemApi_forceColorDisable(int) {}
void c331_manage::c331_SetWinPriority(int, int) {}
void c331_manage::c331_SetWinPriority1(int) {}
void c331_manage::c331_SetWinAttr(int, int) {}
void c331_manage::c331_SetWinOutput(int, int, int) {}
void c331_manage::c331_SetWinDbdMode(int, int, int) {}
void c331_manage::c331_SetPattern(int) {}
