// The inputs as the pages list and show them: source ids (0 EXT, 1 DVI, 2..5 HDMI1..HDMI4) and
// list positions (0 HDMI1 .. 3 HDMI4, 4 DVI, 5 EXT), their names, rich-text templates, input
// pictures, and whether an input has a signal. Ids above 5 (a window word from the PC can
// hold any byte) give an empty name, and the picture setters clear the label.
#pragma once

#include <QString>
#include <cstdint>

#include "core/zem_ram_para.h"

class QLabel;

// What a window shows, from its source word (parameter RAM 2280 + 26w): a whole source, or a
// crop named by its crop-table record. The word comes from the PC and can name anything.
struct WindowInput {
    unsigned char source = 0;   // source id; above 5 names no input
    bool crop = false;          // the word names a crop record
    int record = -1;            // that record 0..39; -1 when the index is above 39
    int crop_number = 0;        // 1..40 when the record is a valid crop of `source`, else 0
    int width = 0, height = 0;  // the size of that crop
};

class sourceinfo {
public:
    static constexpr int kSources = 6;

    static QString get_source_name_by_sourceid(unsigned char id);
    static QString get_source_name_by_listseq(unsigned char seq);
    static unsigned char get_source_id_by_listseq(unsigned char seq);
    static unsigned char get_listseq_by_source_id(unsigned char id);

    // "%1" wrapped in the colour of the source (green for ids 4 and 5, white otherwise).
    static QString get_source_specialstyle0_by_sourceid(unsigned char id);
    // Name, then "(count)" in blue; empty above id 5.
    static QString get_source_specialstyle1_by_sourceid(unsigned char id, const QString& name,
                                                        unsigned char count);

    static void set_source_pixmap(QLabel* label, unsigned char id);
    static void set_sourceonline_pixmap(QLabel* label, unsigned char id, unsigned char online);

    // Width, height and rate of the source (parameter RAM 256 + 6s, 258 + 6s, 260 + 6s) are all
    // non-zero. Read under the store's mutex: the source thread writes them.
    static bool has_signal(unsigned char id) EXCLUDES(ZemRamPara::pInstance()->mutex);
    // "%dx%d@%dHz" of the source's timing, or an empty text without a signal.
    static QString timing_text(unsigned char id) EXCLUDES(ZemRamPara::pInstance()->mutex);

    // What window `window` shows, from the RAM, or with `shown` from the RAM as the last refresh
    // copied it (a page that only shows it, while PCs write).
    static WindowInput window_input(int window, bool shown = false);
    // The source name, with "_Crop" and the crop number for a valid crop.
    static QString window_name(const WindowInput& in);
    // "%dx%d@%dHz": a whole source's timing, or a valid crop's size at its source's rate;
    // empty without a signal or for a crop that names no valid record.
    static QString window_timing(const WindowInput& in) EXCLUDES(ZemRamPara::pInstance()->mutex);
};
