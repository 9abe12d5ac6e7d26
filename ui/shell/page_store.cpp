#include "ui/shell/page_store.h"

#include <algorithm>

namespace {
constexpr int kRamAudioWindow = 2112;
constexpr int kWinAudio = 20;
constexpr int kPictureLevelMax = 100;
}  // namespace

ZemRamPara& store() {
    return *ZemRamPara::p_zemrampara_config;
}

bool wordChanged(int addr) {
    return store().changed16(addr);
}

bool bytesChanged(int from, int to) {
    return store().changed(from, to);
}

bool wordUnsaved(int addr) {
    return store().rd16(addr) != store().persisted16(addr);
}

int audioWindow() {
    const int w = store().ram[kRamAudioWindow];
    return w < ZemRamPara::kWindowCount ? w : 0;
}

int audioWord() {
    return ZemRamPara::windowAddr(audioWindow(), kWinAudio);
}

int pictureLevel(int addr) {
    return std::min<int>(store().rd16(addr), kPictureLevelMax);
}

uint16_t shown16(int addr) {
    return store().seen16(addr);
}

int shownPictureLevel(int addr) {
    return std::min<int>(shown16(addr), kPictureLevelMax);
}

bool windowOn(int w) {
    return w >= 0 && w < ZemRamPara::kWindowCount &&
           (store().rd16(ZemRamPara::windowAddr(w, ZemRamPara::kWinFlags)) & 1);
}
