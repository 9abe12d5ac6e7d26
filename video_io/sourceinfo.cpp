#include "video_io/sourceinfo.h"

#include <QLabel>
#include <QPixmap>

#include "core/zem_ram_para.h"

namespace {

const char* const kNameById[sourceinfo::kSources] = {"EXT",   "DVI",   "HDMI1",
                                                     "HDMI2", "HDMI3", "HDMI4"};
const unsigned char kIdBySeq[sourceinfo::kSources] = {2, 3, 4, 5, 1, 0};

const char* const kWhite = "<font style = 'font-size:9px' color = #ffffff >%1</font>";
const char* const kBlue = "<font style = 'font-size:9px' color = #4777ff >%1</font>";

void setScaled(QLabel* label, const char* file) {
    if (!label) return;
    if (!file) {
        label->clear();
        return;
    }
    label->setScaledContents(true);
    label->setPixmap(QPixmap(file));
}

struct Timing {
    int16_t w = 0, h = 0, hz = 0;
};

Timing timing(unsigned char id) EXCLUDES(ZemRamPara::pInstance()->mutex) {
    Timing t;
    ZemRamPara* store = ZemRamPara::p_zemrampara_config;
    if (!store || id >= sourceinfo::kSources) return t;
    zem::MutexLocker lock(store->mutex);
    t.w = int16_t(store->timing16(256 + 6 * id));
    t.h = int16_t(store->timing16(258 + 6 * id));
    t.hz = int16_t(store->timing16(260 + 6 * id));
    return t;
}

}  // namespace

QString sourceinfo::get_source_name_by_sourceid(unsigned char id) {
    return id < kSources ? QString(kNameById[id]) : QString();
}

QString sourceinfo::get_source_name_by_listseq(unsigned char seq) {
    return seq < kSources ? get_source_name_by_sourceid(kIdBySeq[seq]) : QString();
}

unsigned char sourceinfo::get_source_id_by_listseq(unsigned char seq) {
    return seq < kSources ? kIdBySeq[seq] : 0;
}

unsigned char sourceinfo::get_listseq_by_source_id(unsigned char id) {
    static const unsigned char kSeqById[kSources] = {5, 4, 0, 1, 2, 3};
    return id < kSources ? kSeqById[id] : 0;
}

QString sourceinfo::get_source_specialstyle0_by_sourceid(unsigned char id) {
    return id == 4 || id == 5 ? "<font style = 'font-size:9px' color = #51BB28 >%1</font>" : kWhite;
}

QString sourceinfo::get_source_specialstyle1_by_sourceid(unsigned char id, const QString& name,
                                                         unsigned char count) {
    if (id >= kSources) return QString();
    const QString nameStyle =
        id < 4 ? kWhite : "<font style = 'font-size:9px' color = #12BB32 >%1</font>";
    const QString blue = kBlue;
    return nameStyle.arg(name) + blue.arg("(") + blue.arg(count) + blue.arg(")");
}

void sourceinfo::set_source_pixmap(QLabel* label, unsigned char id) {
    static const char* const kFiles[kSources] = {":/png/HDMI.png",   ":/png/DVI.png",
                                                 ":/png/HDMI13.png", ":/png/HDMI13.png",
                                                 ":/png/HDMI20.png", ":/png/HDMI20.png"};
    setScaled(label, id < kSources ? kFiles[id] : nullptr);
}

void sourceinfo::set_sourceonline_pixmap(QLabel* label, unsigned char id, unsigned char online) {
    static const char* const kOnline[kSources] = {":/png/extlv.png",     ":/png/dvilv.png",
                                                  ":/png/HDMI13_lv.png", ":/png/HDMI13_lv.png",
                                                  ":/png/HDMI20_lv.png", ":/png/HDMI20_lv.png"};
    static const char* const kOffline[kSources] = {":/png/HDMI.png",     ":/png/DVI.png",
                                                   ":/png/HDMI13_1.png", ":/png/HDMI13_1.png",
                                                   ":/png/HDMI20.png",   ":/png/HDMI20.png"};
    setScaled(label, id < kSources ? (online ? kOnline : kOffline)[id] : nullptr);
}

bool sourceinfo::has_signal(unsigned char id) {
    const Timing t = timing(id);
    return t.w && t.h && t.hz;
}

QString sourceinfo::timing_text(unsigned char id) {
    WindowInput whole;
    whole.source = id;
    return window_timing(whole);
}

WindowInput sourceinfo::window_input(int window, bool shown) {
    WindowInput in;
    const ZemRamPara* store = ZemRamPara::p_zemrampara_config;
    if (!store || window < 0 || window >= ZemRamPara::kWindowCount) return in;
    const auto rd16 = [store, shown](int addr) {
        return shown ? store->seen16(addr) : store->rd16_locked(addr);
    };
    const uint16_t word = rd16(ZemRamPara::windowAddr(window, ZemRamPara::kWinSource));
    in.crop = word & 0x8000;
    if (!in.crop) {
        in.source = uint8_t(word);
        return in;
    }
    const int index = word & 0xFF;
    if (index >= ZemRamPara::kCropCount) {
        in.source = 0xFF;
        return in;
    }
    in.record = index;
    const int a = ZemRamPara::kRamCropTable + 10 * index;
    const uint16_t id = rd16(a);
    in.source = uint8_t(id);
    if (id & 0x8000) {
        in.crop_number = ((id >> 8) & 0x7F) + 1;
        in.width = rd16(a + 6);
        in.height = rd16(a + 8);
    }
    return in;
}

QString sourceinfo::window_name(const WindowInput& in) {
    const QString name = get_source_name_by_sourceid(in.source);
    if (name.isEmpty() || !in.crop_number) return name;
    return name + QString("_Crop%1").arg(in.crop_number);
}

QString sourceinfo::window_timing(const WindowInput& in) {
    const Timing t = timing(in.source);
    if (!in.crop)
        return t.w && t.h && t.hz ? QString("%1x%2@%3Hz").arg(t.w).arg(t.h).arg(t.hz) : QString();
    if (!in.crop_number || !in.width || !in.height || !t.hz) return QString();
    return QString("%1x%2@%3Hz").arg(in.width).arg(in.height).arg(t.hz);
}
