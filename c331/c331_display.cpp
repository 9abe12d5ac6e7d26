// One window into the C331: the capture of its input channels and, for every output channel
// that carries a piece of it, the read-back of the frame store; the freeze that hides an
// update and the output vertical-sync wait.
#include "c331/c331_manage.h"
#include "core/globals.h"

void c331_manage::set_display_window_ich(int fd, const _ImageWindowDef_st*,
                                         const _ImageWindowDef_st*, int w) {
    if (w < 0 || w >= 6) return;
    const int* list = g_win_ich[w];
    int n = 0;
    while (n < 8 && list[n] >= 0) ++n;
    if (n == 0) return;
    const int p = PM_INPUT[w];
    if (p < 0 || p > 5) return;
    const int dual = n == 1 || PI_STATE[p] >= 4 ? 0 : PI_HDMI_INFO[p].lane < 5 ? 2 : 1;
    set_idual(fd, list[0], dual, p);
    set_ichsel(fd, w);
}
