// The window layout page: stepping through the six windows (the keypad's window follows, with
// refresh 1), the state, name and source lines, the mirror icons and the point-to-point list
// for known and unknown modes, and a refresh that brings a change to the shown window.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

#include "page_driver.h"
#include "ui/input/image_layout.h"

namespace {

QImage picture(const QString& file) {
    return QImage(file).convertToFormat(QImage::Format_ARGB32);
}

class LayoutPage : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        for (int w = 0; w < 6; ++w) {
            setWord(w, 0, 1);                   // on
            setWord(w, 8, 2);                   // HDMI1
            setWord(w, 10, uint16_t(100 * w));  // x
        }
        ids.clear();
        conn = QObject::connect(store_(), &ZemRamPara::sig_update_para,
                                [this](int id) { ids.push_back(id); });
        startPanel();
        key(kKeyOk);
    }
    void TearDown() override {
        QObject::disconnect(conn);
        PanelTest::TearDown();
    }
    ZemRamPara* store_() { return &store(); }
    void setWord(int w, int offset, uint16_t v) {
        store().wr16_no_gen_bump(ZemRamPara::windowAddr(w, offset), v);
    }
    void onPage(const Step& body) {
        session({[] { panel::openRegistered(kPageImageLayout); },
                 [this, body] {
                     body();
                     backUntilGone([] { return g_imagelayout != nullptr; },
                                   "the window layout page");
                 }});
    }
    QString label(const char* name) { return widget<QLabel>(name)->text(); }
    // The mirror icons lit, as a string of four 0/1.
    QString lit() {
        QString s;
        for (int i = 1; i <= 4; ++i)
            s += icon(widget<QLabel>(QString("mirror%1").arg(i))) ==
                         picture(QString(":/png/mirror%1_on.png").arg(i))
                     ? '1'
                     : '0';
        return s;
    }
    QString p2p() { return widget<QComboBox>("comboBox_P2P")->currentText(); }

    std::vector<int> ids;
    QMetaObject::Connection conn;
};

TEST_F(LayoutPage, LeftAndRightChooseTheKeypadsWindow) {
    g_image_current = 5;
    onPage([&] {
        EXPECT_EQ(label("image_name"), "Name:Image6");
        key(kKeyRight);
        EXPECT_EQ(g_image_current, 0) << "window 6 wraps to 1";
        EXPECT_EQ(label("image_name"), "Name:Image1");
        EXPECT_EQ(widget<QLineEdit>("lineEdit_X")->text(), "0");
        key(kKeyLeft);
        EXPECT_EQ(g_image_current, 5);
        EXPECT_EQ(widget<QLineEdit>("lineEdit_X")->text(), "500");
        settle();
        EXPECT_EQ(std::count(ids.begin(), ids.end(), 1), 2) << "refresh 1 after each step";
        EXPECT_EQ(widget<QWidget>("frame_image")->x(), 7 + 51 * 5);
        shot("window-6");
    });
    EXPECT_EQ(g_page_focus, kPageOption);
}

TEST_F(LayoutPage, StateNameAndSource) {
    setWord(2, 0, 0);
    setWord(3, 0, 2);
    writeFile("/data/configs/alias.json", R"({"version": 2, "namelist": {
        "source": [], "crop": [], "usermode": [],
        "win": [{"id": 3, "valid": "on", "name": "The big wall behind the stage, left half"}]}})");
    g_image_current = 2;
    onPage([&] {
        EXPECT_EQ(label("image_state"), "Image state:OFF");
        EXPECT_EQ(label("image_name"), "Name:Image3");
        EXPECT_EQ(label("image_source"), "Source:HDMI1");
        key(kKeyRight);
        EXPECT_EQ(label("image_state"), "Image state:ON");
        EXPECT_TRUE(label("image_name").startsWith("Name:The big"));
        EXPECT_TRUE(label("image_name").endsWith(QChar(0x2026))) << "a long alias is elided";
        shot("alias");
    });
}

TEST_F(LayoutPage, MirrorAndPointToPointUnknownModesLightNothing) {
    struct Window {
        int w;
        uint16_t mirror, outFlags, p2pMode;
        const char* lit;
        const char* p2p;
    };
    const Window windows[] = {{0, 2, 0x0100, 9, "0010", "HD3,HD4 Ver"},
                              {1, 7, 0x0100, 5, "0000", ""},
                              {2, 0, 0x0000, 9, "1000", "OFF"},
                              {3, 3, 0x0100, 0, "0001", "ON"},
                              {4, 1, 0x0100, 8, "0100", "HD3,HD4 Hor"}};
    for (const Window& w : windows) {
        setWord(w.w, 4, w.mirror);
        setWord(w.w, 18, w.outFlags);
        setWord(w.w, 22, w.p2pMode);
    }
    onPage([&] {
        for (const Window& w : windows) {
            SCOPED_TRACE(w.w);
            EXPECT_EQ(lit(), w.lit);
            EXPECT_EQ(p2p(), w.p2p);
            shot(QString("window-%1").arg(w.w + 1));
            key(kKeyRight);
        }
    });
}

// The PC changes the language while the page shows: the point-to-point list follows with the
// rest of the page.
TEST_F(LayoutPage, APcLanguageChangeReachesThePointToPointList) {
    struct Case {
        uint8_t language;
        const char* items[4];
    };
    const Case cases[] = {
        {1, {"OFF", "ON", "HD3,HD4 Hor", "HD3,HD4 Ver"}},
        {2, {"Откл", "Вкл", "Гор HD3,HD4", "Вер HD3,HD4"}},
        {3, {"Đóng", "Mở", "Nối ngang HD3,HD4", "Ghép dọc HD3,HD4"}},
    };
    std::vector<Item> steps{[] { panel::openRegistered(kPageImageLayout); }};
    for (const Case& c : cases) {
        steps.push_back([this, c] { pcLanguage(c.language); });
        steps.push_back(languageIs(c.language));
        steps.push_back([this, c] {
            SCOPED_TRACE(int(c.language));
            auto* list = widget<QComboBox>("comboBox_P2P");
            ASSERT_EQ(list->count(), 4);
            for (int i = 0; i < 4; ++i) EXPECT_EQ(list->itemText(i), QString::fromUtf8(c.items[i]));
            EXPECT_EQ(p2p(), QString::fromUtf8(c.items[0]));
            shot(QString("pc-language-%1").arg(c.language));
        });
    }
    steps.push_back([this] {
        backUntilGone([] { return g_imagelayout != nullptr; }, "the window layout page");
    });
    session(steps);
}

TEST_F(LayoutPage, ARefreshRedrawsAChangedShownWindow) {
    onPage([&] {
        setWord(0, 4, 1);
        setWord(0, 14, 1920);
        setWord(1, 14, 77);  // another window
        refresh(1);
        EXPECT_EQ(widget<QLineEdit>("lineEdit_W")->text(), "1920");
        EXPECT_EQ(lit(), "0100");
        setWord(0, 0, 0);
        refresh(1);
        EXPECT_EQ(label("image_state"), "Image state:OFF");
        key(kKeyOk);
        EXPECT_EQ(g_page_focus, kPageImageLayout) << "OK changes nothing";
    });
}

}  // namespace
