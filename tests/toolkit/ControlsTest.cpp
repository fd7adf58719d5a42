#include <QFile>
#include <QMetaProperty>
#include <QTemporaryDir>
#include <QTextCursor>

#include <gtest/gtest.h>

#include "toolkit/Controls.h"
#include "toolkit/Memo.h"

namespace {

// The main window's arrangement: top strip, browser pane with splitter, client pane.
struct Window {
    TForm form{"Form"};
    TPanel* top = new TPanel("PanelTop", &form);
    TPanel* left = new TPanel("PanelLeft", &form);
    TSplitter* splitter = new TSplitter("SplitterV", &form);
    TPanel* client = new TPanel("PanelImage", &form);

    Window() {
        form.resize(600, 400);
        top->SetHeight(2);
        top->SetAlign(alTop);
        left->SetWidth(240);
        left->SetAlign(alLeft);
        splitter->SetWidth(2);
        splitter->SetAlign(alLeft);
        client->SetAlign(alClient);
    }
};

}  // namespace

TEST(AlignLayout, ArrangesTopLeftThenClient) {
    Window w;
    EXPECT_EQ(w.top->geometry(), QRect(0, 0, 600, 2));
    EXPECT_EQ(w.left->geometry(), QRect(0, 2, 240, 398));
    EXPECT_EQ(w.splitter->geometry(), QRect(240, 2, 2, 398));
    EXPECT_EQ(w.client->geometry(), QRect(242, 2, 358, 398));

    w.form.show();
    w.form.resize(800, 500);
    EXPECT_EQ(w.left->geometry(), QRect(0, 2, 240, 498));
    EXPECT_EQ(w.client->geometry(), QRect(242, 2, 558, 498));
}

TEST(AlignLayout, HidingAndShowingReflowsAtOnce) {
    Window w;
    w.splitter->SetVisible(false);
    w.left->SetVisible(false);
    EXPECT_EQ(w.client->geometry(), QRect(0, 2, 600, 398));
    w.left->SetVisible(true);
    w.splitter->SetVisible(true);
    EXPECT_EQ(w.splitter->geometry(), QRect(240, 2, 2, 398));
    EXPECT_EQ(w.client->geometry(), QRect(242, 2, 358, 398));

    w.left->SetWidth(100);
    EXPECT_EQ(w.splitter->x(), 100);
    EXPECT_EQ(w.client->geometry(), QRect(102, 2, 498, 398));

    // Bottom and right children, and a foreign widget aligned through a dynamic property.
    auto* bottom = new QWidget(&w.form);
    bottom->resize(10, 20);
    TAlignLayout::SetAlign(bottom, alBottom);
    EXPECT_EQ(bottom->geometry(), QRect(0, 380, 600, 20));
    EXPECT_EQ(w.client->geometry(), QRect(102, 2, 498, 378));
    EXPECT_EQ(TAlignLayout::AlignOf(bottom), alBottom);
    EXPECT_EQ(TAlignLayout::AlignOf(w.client), alClient);
}

TEST(AlignLayout, ClientChildOfPanelFillsIt) {
    Window w;
    auto* memo = new TMemo("ReadText", w.left);
    memo->SetAlign(alClient);
    EXPECT_EQ(memo->geometry(), QRect(QPoint(0, 0), w.left->size()));
}

TEST(Splitter, ResizesItsNeighbourWithinMinimumSizes) {
    Window w;
    EXPECT_EQ(w.splitter->ResizedControl(), w.left);
    EXPECT_EQ(w.splitter->MoveBy(-40), 200);
    EXPECT_EQ(w.left->Width(), 200);
    EXPECT_EQ(w.splitter->x(), 200);
    EXPECT_EQ(w.splitter->MoveBy(-1000), 30);
    // The client keeps at least MinSize: 30 + 568 of client room - 30.
    EXPECT_EQ(w.splitter->MoveBy(5000), 30 + 568 - 30);
    w.left->SetVisible(false);
    EXPECT_EQ(w.splitter->ResizedControl(), nullptr);
}

TEST(Controls, PropertiesAreReachableByName) {
    TPanel panel("PanelImage");
    for (const char* name : {"Visible", "Width", "Height", "Font", "Color", "Align"})
        EXPECT_GE(panel.metaObject()->indexOfProperty(name), 0) << name;
    EXPECT_EQ(panel.property("Color").toInt(), -2147483633);
    EXPECT_TRUE(panel.setProperty("Color", 0x00FF0000));
    EXPECT_EQ(panel.Color(), 0x00FF0000);
    EXPECT_EQ(panel.palette().color(QPalette::Window), QColor(0, 0, 255));
    EXPECT_TRUE(panel.setProperty("Width", 123));
    EXPECT_EQ(panel.width(), 123);

    const QMetaProperty align =
        panel.metaObject()->property(panel.metaObject()->indexOfProperty("Align"));
    ASSERT_TRUE(align.isEnumType());
    EXPECT_STREQ(align.enumerator().valueToKey(alClient), "alClient");
    EXPECT_TRUE(align.write(&panel, align.enumerator().keyToValue("alLeft")));
    EXPECT_EQ(panel.Align(), alLeft);

    TFont font("DejaVu Sans", 11, fsBold);
    EXPECT_TRUE(panel.setProperty("Font", QVariant::fromValue(font)));
    EXPECT_EQ(panel.Font(), font);
    EXPECT_TRUE(panel.font().bold());

    TMemo memo("ReadText");
    for (const char* name : {"Visible", "Font", "Color", "Align", "WordWrap", "ScrollBars"})
        EXPECT_GE(memo.metaObject()->indexOfProperty(name), 0) << name;
    EXPECT_EQ(memo.Color(), clWindow);
}

TEST(ScrollBox, RangeHoldsChildrenAndClientChildrenFillTheView) {
    TScrollBox box("ScrollImage");
    box.resize(100, 100);
    auto* child = new QWidget(box.Contents());
    child->setGeometry(0, 0, 500, 300);
    child->show();
    box.UpdateContents();
    EXPECT_EQ(box.Contents()->size(), QSize(500, 300).expandedTo(box.viewport()->size()));

    TAlignLayout::SetAlign(child, alClient);
    box.UpdateContents();
    EXPECT_EQ(child->size(), box.viewport()->size());
    EXPECT_EQ(box.Contents()->size(), box.viewport()->size());

    TAlignLayout::SetAlign(child, alNone);
    child->setGeometry(0, 0, 500, 300);
    box.SetAutoScroll(false);
    EXPECT_EQ(box.Contents()->size(), box.viewport()->size());
    EXPECT_EQ(box.horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
}

TEST(ScrollBox, ColourFollowsTheParentUntilSet) {
    TPanel panel("PanelImage");
    auto* box = new TScrollBox("ScrollImage", &panel);
    panel.SetColor(0x0000FF00);
    EXPECT_EQ(box->Color(), 0x0000FF00);
    EXPECT_EQ(box->palette().color(QPalette::Window), QColor(0, 255, 0));
    box->SetColor(clWhite);
    EXPECT_FALSE(box->ParentColor());
    EXPECT_EQ(box->Color(), clWhite);
}

TEST(Memo, DecodesUtf8ElseWindows1252) {
    EXPECT_EQ(TMemo::DecodeText("caf\xC3\xA9"), QString::fromUtf8("café"));
    EXPECT_EQ(TMemo::DecodeText("\xEF\xBB\xBFx"), "x");
    EXPECT_EQ(TMemo::DecodeText("caf\xE9"), QString::fromUtf8("café"));
    EXPECT_EQ(TMemo::DecodeText("\x80\x99\x9F\x81"),
              QString::fromUtf16(u"\u20AC\u2122\u0178\u0081"));
    EXPECT_EQ(TMemo::DecodeText("ab\xC3"), QString::fromUtf16(u"ab\u00C3"));  // truncated UTF-8
    EXPECT_EQ(TMemo::DecodeText("a\r\nb\rc\nd"), "a\nb\nc\nd");
    EXPECT_EQ(TMemo::DecodeText(QByteArray("a\0b", 3)), "a b");
    QByteArray all;
    for (int i = 0xA0; i < 0x100; ++i)
        all.append(char(i));
    const QString latin = TMemo::DecodeText(all);
    ASSERT_EQ(latin.size(), 0x60);
    for (int i = 0; i < 0x60; ++i)
        EXPECT_EQ(latin[i].unicode(), 0xA0 + i);
}

TEST(Memo, LoadsFilesAndKeepsTextWhenAFileCannotBeRead) {
    QTemporaryDir dir;
    const QString path = dir.filePath("a.txt");
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("one\r\ntwo\r\nthree");
    }
    TMemo memo("ReadText");
    int changes = 0;
    QObject::connect(&memo, &TMemo::OnChange, [&] { ++changes; });
    memo.LoadFromFile(path);
    EXPECT_EQ(memo.LineCount(), 3);
    EXPECT_EQ(memo.Text(), "one\ntwo\nthree");
    EXPECT_GE(changes, 1);
    EXPECT_THROW(memo.LoadFromFile(dir.filePath("missing.txt")), std::runtime_error);
    EXPECT_EQ(memo.Text(), "one\ntwo\nthree");
    memo.Clear();
    EXPECT_TRUE(memo.Text().isEmpty());
}

TEST(Memo, HorizontalScrollBarTurnsWrappingOff) {
    TMemo memo("ReadText");
    EXPECT_TRUE(memo.WordWrap());
    EXPECT_EQ(memo.ScrollBars(), ssNone);
    EXPECT_TRUE(memo.Wrapping());
    EXPECT_EQ(memo.verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    memo.SetScrollBars(ssVertical);
    EXPECT_TRUE(memo.Wrapping());
    EXPECT_EQ(memo.verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(memo.horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    memo.SetScrollBars(ssBoth);
    EXPECT_FALSE(memo.Wrapping());
    EXPECT_FALSE(memo.LineWrapping());
    memo.SetScrollBars(ssVertical);
    EXPECT_TRUE(memo.LineWrapping());
    memo.SetWordWrap(false);
    EXPECT_FALSE(memo.LineWrapping());
}

TEST(Memo, SelectionLength) {
    TMemo memo("ReadText");
    memo.SetText("hello world");
    EXPECT_EQ(memo.SelLength(), 0);
    memo.Select(0, 5);
    EXPECT_EQ(memo.SelLength(), 5);
    memo.SetText(QString::fromUtf8("\xC3\xA9t\xC3\xA9"));  // characters, not bytes
    memo.Select(0, 5);
    EXPECT_EQ(memo.SelLength(), 3);
}

// A window placed off the screens (stored under another screen layout) comes back whole on the
// screen it overlaps most, or the nearest one, never into a gap between screens of unequal size.
TEST(Form, BoundsOffTheScreensComeBackWholeOnOne) {
    const QList<QRect> screens = {QRect(0, 0, 1920, 1080), QRect(1920, 0, 1280, 1024)};
    const struct {
        const char* name;
        QRect bounds, expected;
    } cases[] = {
        {"on the first screen", {100, 100, 600, 400}, {100, 100, 600, 400}},
        {"on the second screen", {2000, 100, 600, 400}, {2000, 100, 600, 400}},
        {"below the smaller screen", {2400, 1040, 600, 400}, {2400, 624, 600, 400}},
        {"across both, mostly the first", {1500, 100, 600, 400}, {1320, 100, 600, 400}},
        {"far away", {9000, 9000, 600, 400}, {2600, 624, 600, 400}},
        {"larger than any screen", {-50, -50, 4000, 2000}, {0, 0, 1920, 1080}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(TForm::FitToScreens(c.bounds, screens), c.expected);
    }
}
