// Windows, sources and crops in the parameter RAM: one encoding for every caller (pages,
// keypad, protocol). Writers change the RAM under the C331 mutex and raise the apply flag.
#include <cstring>

#include "c331/c331_manage.h"
#include "core/globals.h"
#include "core/zem_ram_para.h"

uint8_t g_cut_source_state[30];

namespace {

constexpr int kCropStride = 10;
constexpr int kBitmapBytes = 5;  // 40 crop numbers per source

struct CropId {
    bool valid;
    int source;
    int number;  // 1..128 as stored; only 1..40 are usable
};

CropId cropId(const uint8_t* image, int k) {
    const uint8_t* e = image + ZemRamPara::kRamCropTable + kCropStride * k;
    const uint16_t id = uint16_t(e[0] | e[1] << 8);
    return {(id & 0x8000) != 0, id & 0xFF, ((id >> 8) & 0x7F) + 1};
}

// An entry the bitmap can hold: valid, one of the six sources, a crop number 1..40.
bool usable(const CropId& c) {
    return c.valid && c.source < ZemRamPara::kSourceCount && c.number <= ZemRamPara::kCropCount;
}

bool bitmapHas(int s, int c) {
    const int b = c - 1;
    return g_cut_source_state[kBitmapBytes * s + b / 8] >> (b % 8) & 1;
}

void put16(uint8_t* p, int v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

bool validSource(int s) {
    return s >= 0 && s < ZemRamPara::kSourceCount;
}

}  // namespace

void ZemRamPara::ZemCropSourceInit() {
    zem::MutexLocker lock(c331_manage::c331_mutex);  // a PC may write the table meanwhile
    std::memset(g_cut_source_state, 0, sizeof g_cut_source_state);
    for (int k = 0; k < kCropCount; ++k) {
        const CropId c = cropId(ram.data(), k);
        if (!usable(c)) continue;
        const int b = c.number - 1;
        g_cut_source_state[kBitmapBytes * c.source + b / 8] |= uint8_t(1 << (b % 8));
    }
}

int ZemRamPara::ZemGetCropID(int s, int k) const {
    if (!validSource(s) || k < 1) return 0;
    for (int c = 1; c <= kCropCount; ++c)
        if (bitmapHas(s, c) && --k == 0) return c;
    return 0;
}

int ZemRamPara::ZemAddCropID(int s) const {
    if (!validSource(s)) return 0;
    for (int c = 1; c <= kCropCount; ++c)
        if (!bitmapHas(s, c)) return c;
    return 0;
}

int ZemRamPara::ZemGetSourceNum(int s, int n) const {
    int count = 0;
    for (int k = 0; k < n && k < kCropCount; ++k) {
        const CropId c = cropId(ram.data(), k);
        if (c.valid && c.source == s) ++count;
    }
    return count;
}

int ZemRamPara::ZemGetCropCount(int s) const {
    if (!validSource(s)) return 0;
    int count = 0;
    for (int c = 1; c <= kCropCount; ++c) count += bitmapHas(s, c);
    return count;
}

int ZemRamPara::find_crop(int s, int k) const {
    const int number = ZemGetCropID(s, k);
    if (number == 0) return -1;
    for (int i = 0; i < kCropCount; ++i) {
        const CropId c = cropId(ram.data(), i);
        if (c.valid && c.source == s && c.number == number) return i;
    }
    return -1;
}

int ZemRamPara::ZemGetImageSource(const uint8_t* base, uint8_t w, int16_t* isCrop, char* cropIndex,
                                  uint8_t fromSlot) const {
    *isCrop = 0;
    if (w >= kWindowCount) return 0;
    // A slot's payload starts at RAM 896.
    const uint8_t* image = fromSlot ? base - kModePayloadStart : base;
    const uint8_t* word = image + windowAddr(w, kWinSource);
    if (!(word[1] & 0x80)) return word[0];
    *isCrop = 1;
    *cropIndex = char(word[0]);
    if (word[0] >= kCropCount) return 0;  // no such entry: shown as source 0
    return image[kRamCropTable + kCropStride * word[0]];
}

void ZemRamPara::ZemSetImageSource(int k, int s, int w) {
    if (w < 0 || w >= kWindowCount || !validSource(s) || k < 0) return;
    // The crop is looked up in the table it is written against.
    zem::MutexLocker lock(c331_manage::c331_mutex);
    uint16_t word = uint16_t(s);
    if (k > 0) {
        const int i = find_crop(s, k);
        word = i < 0 ? 0 : uint16_t(0x8000 | i);
    }
    user_wr16(windowAddr(w, kWinSource), word);
    // A source change ends the current user mode, unless a recalled mode is not yet saved.
    if (rd16(kRamCurrentMode) == persisted16(kRamCurrentMode)) set_current_mode(0);
    c331_manage::raise_apply(1);
}

void ZemRamPara::ZemGetCropPara(int s, int k, CROP_PARA* para, int* index) const {
    zem::MutexLocker lock(c331_manage::c331_mutex);  // a PC may write the table meanwhile
    const int i = find_crop(s, k);
    *index = i < 0 ? kCropCount : i;
    if (i < 0) return;
    const int a = kRamCropTable + kCropStride * i;
    for (int f = 0; f < 5; ++f) para->para[f] = rd16(a + 2 * f);
}

void ZemRamPara::ZemSetCropPara(int s, int k, const CROP_PARA* para) {
    zem::MutexLocker lock(c331_manage::c331_mutex);
    const int i = find_crop(s, k);
    if (i < 0) return;
    for (int f = 1; f < 5; ++f)
        put16(ram.data() + kRamCropTable + kCropStride * i + 2 * f, para->para[f]);
    c331_manage::raise_apply(1);
}

// Record and crop number come from the table itself, under the mutex: the bitmap may be stale
// (a PC change not yet seen) and a writer may take a record meanwhile.
int ZemRamPara::ZemAddNewCrop(int s, const CROP_PARA* para) {
    if (!validSource(s)) return -1;
    zem::MutexLocker lock(c331_manage::c331_mutex);
    bool used[kCropCount + 1] = {};
    int record = -1;
    for (int i = 0; i < kCropCount; ++i) {
        const CropId c = cropId(ram.data(), i);
        if (!c.valid && record < 0) record = i;
        if (c.valid && c.source == s && c.number <= kCropCount) used[c.number] = true;
    }
    int number = 1;
    while (number <= kCropCount && used[number]) ++number;
    if (record < 0 || number > kCropCount) return -1;
    uint8_t* e = ram.data() + kRamCropTable + kCropStride * record;
    put16(e, 0x8000 | ((number - 1) & 0x7F) << 8 | s);
    for (int f = 1; f < 5; ++f) put16(e + 2 * f, para->para[f]);
    c331_manage::raise_apply(1);
    return record;
}

void ZemRamPara::ZemDeleteCrop(int s, int k) {
    zem::MutexLocker lock(c331_manage::c331_mutex);
    const int i = find_crop(s, k);
    if (i < 0) return;
    put16(ram.data() + kRamCropTable + kCropStride * i, 0);
    c331_manage::raise_apply(1);
}

bool ZemRamPara::cropStillIs(int record, uint16_t id) const {
    return record >= 0 && record < kCropCount && (id & 0x8000) &&
           rd16(kRamCropTable + kCropStride * record) == id;
}

int ZemRamPara::ZemSetCropParaAt(int record, uint16_t id, const CROP_PARA* para) {
    zem::MutexLocker lock(c331_manage::c331_mutex);
    if (!cropStillIs(record, id)) return -1;
    uint8_t* e = ram.data() + kRamCropTable + kCropStride * record;
    for (int f = 1; f < 5; ++f) put16(e + 2 * f, para->para[f]);
    c331_manage::raise_apply(1);
    return 0;
}

int ZemRamPara::ZemDeleteCropAt(int record, uint16_t id) {
    zem::MutexLocker lock(c331_manage::c331_mutex);
    if (!cropStillIs(record, id)) return -1;
    put16(ram.data() + kRamCropTable + kCropStride * record, 0);
    c331_manage::raise_apply(1);
    return 0;
}

void ZemRamPara::ZemSetImageFreeze() {
    const int w = g_image_current;
    if (w >= kWindowCount) return;
    zem::MutexLocker lock(c331_manage::c331_mutex);
    const int a = windowAddr(w, kWinOutFlags);
    const uint16_t flags = rd16(a);
    const bool freeze = !(flags & 0x0002);
    ZEM_DEBUG("\n set freeze : %s \n", freeze ? "freeze " : "normal");
    if (rd16(windowAddr(w, kWinFlags)) & 1) user_wr16(a, freeze ? flags | 0x0002 : flags & ~0x0002);
    c331_manage::raise_apply(1);
}

void ZemRamPara::ZemSetImageBlack() {
    const int w = g_image_current;
    if (w >= kWindowCount) return;
    zem::MutexLocker lock(c331_manage::c331_mutex);
    const int a = windowAddr(w, kWinOutFlags);
    user_wr16(a, rd16(a) ^ 0x0001);
    c331_manage::raise_apply(1);
}

void ZemRamPara::ZemSetEDIDPara(int s, int16_t w, int16_t h, int16_t hz) {
    if (!validSource(s)) return;
    zem::MutexLocker lock(c331_manage::c331_mutex);
    user_wr16(kRamEdid + 6 * s, uint16_t(w));
    user_wr16(kRamEdid + 6 * s + 2, uint16_t(h));
    user_wr16(kRamEdid + 6 * s + 4, uint16_t(hz));
    c331_manage::raise_apply(1);
}

int ZemRamPara::ZemSourceId_is_on(int id) const {
    int on = 0;
    for (int w = 0; w < kWindowCount; ++w) {
        if (!(rd16(windowAddr(w, kWinFlags)) & 1)) continue;
        int16_t isCrop;
        char index;
        const int s = ZemGetRamImageSource(uint8_t(w), &isCrop, &index);
        const int dev = s >= 1 && s <= 5 ? s : 0;
        ZEM_DEBUG("\n ZemSourceId_is_on  source_id = %d, dev_id1 = %d ,dev_id = %d\n", id, s, dev);
        if (dev == id) on = 1;
    }
    return on;
}
