#include "ui/shell/page_store.h"

namespace {
constexpr int kRamAudioWindow = 2112;
constexpr int kWinAudio = 20;
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
    const int w = store().rd8_locked(kRamAudioWindow);
    return w < ZemRamPara::kWindowCount ? w : 0;
}

int audioWord() {
    return audioWordOf(audioWindow());
}

int audioWordOf(int w) {
    return ZemRamPara::windowAddr(w, kWinAudio);
}

uint16_t shown16(int addr) {
    return store().seen16(addr);
}

int shownSigned16(int addr) {
    return int16_t(shown16(addr));
}

bool windowOn(int w) {
    return w >= 0 && w < ZemRamPara::kWindowCount &&
           (store().rd16_locked(ZemRamPara::windowAddr(w, ZemRamPara::kWinFlags)) & 1);
}
