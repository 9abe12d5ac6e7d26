// Windows, sources and crops: the crop encodings in the parameter RAM, the crop bitmap, and
// the writers that must reach the video processor through the apply flag.
#include <cstring>

#include "c331/c331_manage.h"
#include "core/globals.h"
#include "store_fixture.h"

namespace {

class CropTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        s = startStore();
        for (int k = 0; k < 40; ++k) setEntry(k, 0, 0, false);
    }
    void setEntry(int k, int source, int number, bool valid, int w = 640) {
        const uint16_t id = uint16_t((valid ? 0x8000 : 0) | ((number - 1) & 0x7F) << 8 | source);
        const uint16_t words[5] = {id, 10, 20, uint16_t(w), 360};
        for (int f = 0; f < 5; ++f) s->wr16_no_gen_bump(1472 + 10 * k + 2 * f, words[f]);
    }
    // Takes every pending apply id; the ids raised since the last call.
    static std::vector<int> applies() {
        zem::MutexLocker lock(c331_manage::c331_mutex);
        std::vector<int> ids;
        while (const uint8_t id = c331_manage::take_apply()) ids.push_back(id);
        return ids;
    }
    uint16_t sourceWord(int w) const { return s->rd16(2280 + 26 * w); }

    ZemRamPara* s = nullptr;
};

TEST_F(CropTest, CropsAreOrderedByCropNumberNotByTablePosition) {
    setEntry(7, 1, 1, true);
    setEntry(2, 1, 3, true);
    s->ZemCropSourceInit();
    EXPECT_EQ(g_cut_source_state[5], 0b101) << "source 1 owns crops 1 and 3";
    EXPECT_EQ(s->ZemGetCropID(1, 1), 1);
    EXPECT_EQ(s->ZemGetCropID(1, 2), 3);
    EXPECT_EQ(s->ZemGetCropID(1, 3), 0);
    EXPECT_EQ(s->ZemGetCropID(1, 0), 0);
    EXPECT_EQ(s->ZemAddCropID(1), 2);
    EXPECT_EQ(s->ZemGetSourceNum(1, 40), 2);
    EXPECT_EQ(s->ZemGetSourceNum(1, 3), 1);
    EXPECT_EQ(s->ZemGetSourceNum(1, 0), 0);

    s->ZemSetImageSource(2, 1, 0);
    EXPECT_EQ(sourceWord(0), 0x8002) << "the entry of crop 3 is at index 2";
    int16_t isCrop = 0;
    char index = 0;
    EXPECT_EQ(s->ZemGetImageSource(s->ram.data(), 0, &isCrop, &index, 0), 1);
    EXPECT_EQ(isCrop, 1);
    EXPECT_EQ(index, 2);
    s->ZemSetImageSource(3, 1, 0);
    EXPECT_EQ(sourceWord(0), 0) << "no third crop: source 0";
    s->ZemSetImageSource(0, 5, 1);
    EXPECT_EQ(sourceWord(1), 5);
    EXPECT_EQ(applies(), std::vector<int>{1});
}

TEST_F(CropTest, TheBitmapIgnoresEntriesItCannotHold) {
    setEntry(0, 6, 1, true);   // no such source
    setEntry(1, 2, 41, true);  // crop number past 40
    setEntry(2, 2, 40, true);
    setEntry(3, 5, 1, false);  // not valid
    setEntry(4, 0, 9, true);
    s->ZemCropSourceInit();
    uint8_t expected[30] = {};
    expected[1] = 0x01;          // source 0, crop 9
    expected[5 * 2 + 4] = 0x80;  // source 2, crop 40
    EXPECT_EQ(0, std::memcmp(g_cut_source_state, expected, 30));
    EXPECT_EQ(s->ZemGetCropID(6, 1), 0);
    EXPECT_EQ(s->ZemAddCropID(6), 0);
    EXPECT_EQ(s->ZemGetCropID(2, 1), 40);
    // What pages count: the bitmap's crops, not the records naming the source.
    EXPECT_EQ(s->ZemGetSourceNum(2, 40), 2);
    EXPECT_EQ(s->ZemGetCropCount(2), 1);
    EXPECT_EQ(s->ZemGetCropCount(0), 1);
    EXPECT_EQ(s->ZemGetCropCount(6), 0);
    setEntry(5, 0, 9, true);  // crop 9 of source 0 once more
    s->ZemCropSourceInit();
    EXPECT_EQ(s->ZemGetCropCount(0), 1);
}

TEST_F(CropTest, AddEditGetAndDeleteACrop) {
    setEntry(0, 3, 1, true);
    s->ZemCropSourceInit();
    CROP_PARA add = {{0, 100, 200, 300, 400}};
    s->ZemAddNewCrop(3, &add);
    EXPECT_EQ(s->rd16(1472 + 10), 0x8103) << "crop 2 of source 3 in the first free entry";
    s->ZemCropSourceInit();
    CROP_PARA got = {};
    int index = -1;
    s->ZemGetCropPara(3, 2, &got, &index);
    EXPECT_EQ(index, 1);
    EXPECT_EQ(got.para[0], 0x8103);
    EXPECT_EQ(got.para[1], 100);
    EXPECT_EQ(got.para[4], 400);

    CROP_PARA edit = {{0x1234, 1, 2, 0x10003, 4}};
    s->ZemSetCropPara(3, 2, &edit);
    EXPECT_EQ(s->rd16(1472 + 10), 0x8103) << "the id word stays";
    EXPECT_EQ(s->rd16(1472 + 10 + 6), 3) << "low 16 bits";
    EXPECT_EQ(applies(), std::vector<int>{1}) << "a crop edit reaches the chip";

    s->ZemDeleteCrop(3, 2);
    EXPECT_EQ(s->rd16(1472 + 10), 0);
    EXPECT_EQ(s->rd16(1472 + 10 + 2), 1) << "the rectangle stays";
    EXPECT_EQ(applies(), std::vector<int>{1});

    CROP_PARA untouched = {{7, 7, 7, 7, 7}};
    s->ZemGetCropPara(3, 5, &untouched, &index);
    EXPECT_EQ(index, 40);
    EXPECT_EQ(untouched.para[0], 7);
    s->ZemDeleteCrop(3, 5);
    s->ZemSetCropPara(3, 5, &edit);
    EXPECT_TRUE(applies().empty()) << "nothing found, nothing raised";
}

TEST_F(CropTest, AFullTableOrAFullSourceTakesNoNewCrop) {
    for (int k = 0; k < 40; ++k) setEntry(k, k % 2, k / 2 + 1, true);
    s->ZemCropSourceInit();
    uint8_t before[4096];
    std::memcpy(before, s->ram.data(), sizeof before);
    CROP_PARA add = {{0, 1, 1, 1, 1}};
    EXPECT_EQ(s->ZemAddNewCrop(4, &add), -1);
    EXPECT_EQ(0, std::memcmp(before, s->ram.data(), sizeof before)) << "a 41st crop is not added";

    for (int k = 0; k < 40; ++k)
        if (k != 20) setEntry(k, 2, k + 1, true);
    setEntry(20, 0, 0, false);
    s->ZemCropSourceInit();
    EXPECT_EQ(s->ZemAddNewCrop(2, &add), 20);
    EXPECT_EQ(s->rd16(1472 + 200), 0x8000 | 20 << 8 | 2) << "the free number 21, the free entry";

    // The table decides, not a bitmap not yet rebuilt after a delete: the freed number and
    // record are taken again.
    s->ZemCropSourceInit();
    setEntry(20, 0, 0, false);
    EXPECT_EQ(s->ZemAddNewCrop(2, &add), 20);
    EXPECT_EQ(s->rd16(1472 + 200), 0x8000 | 20 << 8 | 2);
    std::memcpy(before, s->ram.data(), sizeof before);
    EXPECT_EQ(s->ZemAddNewCrop(2, &add), -1) << "the table is full";
    EXPECT_EQ(0, std::memcmp(before, s->ram.data(), sizeof before));
    EXPECT_EQ(s->ZemAddNewCrop(7, &add), -1);
    EXPECT_EQ(0, std::memcmp(before, s->ram.data(), sizeof before)) << "no source 7";
}

TEST_F(CropTest, RecordBoundEditAndDeleteActOnlyWhileTheRecordIsUnchanged) {
    setEntry(0, 3, 1, true);
    setEntry(1, 3, 3, true);
    s->ZemCropSourceInit();
    const uint16_t id = s->rd16(1472 + 10);
    CROP_PARA edit = {{0, 5, 6, 7, 8}};
    struct Case {
        const char* name;
        int record;
        uint16_t id;
        int rc;
    };
    const Case cases[] = {
        {"another crop number now", 1, uint16_t(id - 0x100), -1},
        {"record out of range", 40, id, -1},
        {"a free record", 2, 0, -1},
        {"unchanged", 1, id, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(s->ZemSetCropParaAt(c.record, c.id, &edit), c.rc) << c.name;
        EXPECT_EQ(applies().size(), c.rc == 0 ? 1u : 0u) << c.name;
    }
    EXPECT_EQ(s->rd16(1472 + 10 + 2), 5);
    EXPECT_EQ(s->ZemDeleteCropAt(1, uint16_t(id ^ 1)), -1) << "another source";
    EXPECT_EQ(s->rd16(1472 + 10), id);
    EXPECT_EQ(s->ZemDeleteCropAt(1, id), 0);
    EXPECT_EQ(s->rd16(1472 + 10), 0);
    EXPECT_EQ(s->ZemDeleteCropAt(1, id), -1) << "already gone";
}

TEST_F(CropTest, ASourceChangeEndsTheCurrentUserModeOnlyWhenItIsInForce) {
    s->wr16_no_gen_bump(866, 4);
    s->persisted[866] = 4;
    s->ZemSetImageSource(0, 3, 2);
    EXPECT_EQ(s->rd16(866), 0);

    s->wr16_no_gen_bump(866, 4);
    s->persisted[866] = 6;  // a recalled mode not yet saved
    s->ZemSetImageSource(0, 1, 2);
    EXPECT_EQ(s->rd16(866), 4);
    EXPECT_EQ(sourceWord(2), 1);

    const uint16_t before = sourceWord(2);
    s->ZemSetImageSource(0, 6, 2);
    s->ZemSetImageSource(0, 1, 6);
    EXPECT_EQ(sourceWord(2), before) << "source 6 and window 6 are refused";
}

TEST_F(CropTest, FreezeBlackAndEdidWritesRaiseTheApplyFlag) {
    g_image_current = 1;  // window 1 is disabled by default
    s->ZemSetImageFreeze();
    EXPECT_EQ(s->rd16(2272 + 26 + 18), 0) << "a disabled window keeps its flags";
    EXPECT_EQ(applies(), std::vector<int>{1});
    s->ZemSetImageBlack();
    EXPECT_EQ(s->rd16(2272 + 26 + 18), 1) << "black toggles on a disabled window";
    EXPECT_EQ(applies(), std::vector<int>{1});

    g_image_current = 0;
    s->ZemSetImageFreeze();
    EXPECT_EQ(s->rd16(2272 + 18), 2);
    s->ZemSetImageFreeze();
    EXPECT_EQ(s->rd16(2272 + 18), 0);
    applies();

    s->ZemSetEDIDPara(5, 1280, 720, 50);
    EXPECT_EQ(s->rd16(896 + 30), 1280);
    EXPECT_EQ(s->rd16(896 + 32), 720);
    EXPECT_EQ(s->rd16(896 + 34), 50);
    EXPECT_EQ(applies(), std::vector<int>{1});
    const uint16_t next = s->rd16(896 + 36);
    s->ZemSetEDIDPara(6, 1, 1, 1);
    EXPECT_EQ(s->rd16(896 + 36), next) << "source 6 refused";
    g_image_current = 6;
    s->ZemSetImageBlack();
    EXPECT_TRUE(applies().empty());
}

TEST_F(CropTest, SourceIsOnCountsEnabledWindowsAndCropsBySource) {
    EXPECT_EQ(s->ZemSourceId_is_on(2), 1) << "window 0 shows HDMI1";
    EXPECT_EQ(s->ZemSourceId_is_on(5), 0) << "window 1 shows HDMI4 but is off";
    s->wr16_no_gen_bump(2280, 0);
    EXPECT_EQ(s->ZemSourceId_is_on(0), 1);
    setEntry(4, 3, 1, true);
    s->wr16_no_gen_bump(2280, 0x8004);
    EXPECT_EQ(s->ZemSourceId_is_on(3), 1);
    EXPECT_EQ(s->ZemSourceId_is_on(0), 0);
    s->wr16_no_gen_bump(2280, 0x8033);  // a crop index past the table
    int16_t isCrop;
    char index;
    EXPECT_EQ(s->ZemGetImageSource(s->ram.data(), 0, &isCrop, &index, 0), 0);
    EXPECT_EQ(s->ZemGetImageSource(s->ram.data(), 6, &isCrop, &index, 0), 0);
}

TEST_F(CropTest, TheSourceOfASlotIsReadFromTheSlot) {
    uint8_t* payload = s->mode_ram[3].data() + 2;
    auto slot16 = [&](int addr, uint16_t v) { put16(payload - 896, addr, v); };
    slot16(2280 + 26 * 2, 0x8005);
    slot16(1472 + 50, 0x8204);
    int16_t isCrop = 0;
    char index = 0;
    EXPECT_EQ(s->ZemGetImageSource(payload, 2, &isCrop, &index, 1), 4);
    EXPECT_EQ(isCrop, 1);
    EXPECT_EQ(index, 5);
}

}  // namespace
