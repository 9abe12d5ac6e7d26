// The inputs as every page names and shows them, for the six source ids, ids a window word from
// the PC can hold beyond them (6, 7, 255), and the signal rule.
#include "video_io/sourceinfo.h"

#include <QLabel>

#include "page_driver.h"

namespace {

class SourceInfo : public PanelTest {};

QImage shown(const QLabel& l) {
    return l.pixmap(Qt::ReturnByValue).toImage().convertToFormat(QImage::Format_ARGB32);
}
QImage file(const char* f) {
    return QImage(f).convertToFormat(QImage::Format_ARGB32);
}

TEST_F(SourceInfo, NamesPositionsStylesAndPicturesOfEachId) {
    struct Row {
        unsigned char id;
        const char* name;
        unsigned char seq;  // its list position
        const char* offline;
        const char* online;
    };
    const Row rows[] = {
        {0, "EXT", 5, ":/png/HDMI.png", ":/png/extlv.png"},
        {1, "DVI", 4, ":/png/DVI.png", ":/png/dvilv.png"},
        {2, "HDMI1", 0, ":/png/HDMI13_1.png", ":/png/HDMI13_lv.png"},
        {3, "HDMI2", 1, ":/png/HDMI13_1.png", ":/png/HDMI13_lv.png"},
        {4, "HDMI3", 2, ":/png/HDMI20.png", ":/png/HDMI20_lv.png"},
        {5, "HDMI4", 3, ":/png/HDMI20.png", ":/png/HDMI20_lv.png"},
        {6, "", 0, nullptr, nullptr},
        {7, "", 0, nullptr, nullptr},
        {255, "", 0, nullptr, nullptr},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(int(r.id));
        EXPECT_EQ(sourceinfo::get_source_name_by_sourceid(r.id), r.name);
        EXPECT_EQ(sourceinfo::get_listseq_by_source_id(r.id), r.seq);
        QLabel label;
        label.setText("old");
        sourceinfo::set_sourceonline_pixmap(&label, r.id, 0);
        if (!r.offline) {
            EXPECT_TRUE(label.text().isEmpty() && label.pixmap(Qt::ReturnByValue).isNull())
                << "no input: the label is cleared";
            EXPECT_TRUE(sourceinfo::get_source_specialstyle1_by_sourceid(r.id, "x", 1).isEmpty());
            continue;
        }
        EXPECT_EQ(shown(label), file(r.offline));
        sourceinfo::set_sourceonline_pixmap(&label, r.id, 1);
        EXPECT_EQ(shown(label), file(r.online));
        // Name and list position convert both ways.
        EXPECT_EQ(sourceinfo::get_source_id_by_listseq(r.seq), r.id);
        EXPECT_EQ(sourceinfo::get_source_name_by_listseq(r.seq), r.name);
        const QString row = sourceinfo::get_source_specialstyle1_by_sourceid(r.id, r.name, 3);
        EXPECT_TRUE(row.startsWith(QString("<font style = 'font-size:9px' color = %1 >%2</font>")
                                       .arg(r.id >= 4 ? "#12BB32" : "#ffffff", r.name)));
        EXPECT_TRUE(row.endsWith("color = #4777ff >)</font>"));
        EXPECT_EQ(sourceinfo::get_source_specialstyle0_by_sourceid(r.id).contains("#51BB28"),
                  r.id >= 4);
    }
    EXPECT_EQ(sourceinfo::get_source_id_by_listseq(6), 0);
    EXPECT_EQ(sourceinfo::get_source_name_by_listseq(6), "");
}

TEST_F(SourceInfo, ASignalNeedsWidthHeightAndRate) {
    const struct {
        int w, h, hz;
        bool signal;
    } cases[] = {
        {1920, 1080, 60, true}, {1920, 1080, 0, false}, {0, 1080, 60, false}, {1920, 0, 60, false}};
    for (const auto& c : cases) {
        setTimingWord(256 + 6 * 3, uint16_t(c.w));
        setTimingWord(258 + 6 * 3, uint16_t(c.h));
        setTimingWord(260 + 6 * 3, uint16_t(c.hz));
        EXPECT_EQ(sourceinfo::has_signal(3), c.signal) << c.w << "x" << c.h << "@" << c.hz;
        EXPECT_EQ(sourceinfo::timing_text(3).isEmpty(), !c.signal);
    }
    setTimingWord(258 + 6 * 3, 1080);
    EXPECT_EQ(sourceinfo::timing_text(3), "1920x1080@60Hz");
    EXPECT_FALSE(sourceinfo::has_signal(7)) << "no input 7 is ever read";
}

}  // namespace
