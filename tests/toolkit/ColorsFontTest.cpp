#include <QFontDatabase>
#include <QMetaEnum>
#include <QMetaProperty>

#include <gtest/gtest.h>

#include "imaging/Graphic.h"  // the imaging TColor alias must coexist with the toolkit's
#include "toolkit/Colors.h"
#include "toolkit/Dialogs.h"
#include "toolkit/Font.h"

static_assert(std::is_same_v<TColor, int32_t>);

TEST(Colors, SystemColorsAreSignedValuesWithTheHighBit) {
    EXPECT_EQ(clBtnFace, -2147483633);
    EXPECT_EQ(clWindowText, -2147483640);
    EXPECT_EQ(static_cast<uint32_t>(clWindow), 0x80000005u);
    EXPECT_TRUE(IsSystemColor(clBtnFace));
    EXPECT_FALSE(IsSystemColor(clWhite));
}

TEST(Colors, DirectColorsAreBlueGreenRed) {
    const QColor c = ColorToQColor(0x00336699);
    EXPECT_EQ(c.red(), 0x99);
    EXPECT_EQ(c.green(), 0x66);
    EXPECT_EQ(c.blue(), 0x33);
    EXPECT_EQ(QColorToColor(QColor(0x12, 0x34, 0x56)), 0x00563412);
    EXPECT_EQ(QColorToColor(ColorToQColor(0x00ABCDEF)), 0x00ABCDEF);
    EXPECT_EQ(ColorToRGB(0x7F00FF00), 0x0000FF00);  // stray high byte ignored
}

TEST(Colors, SystemColorsFollowThePalette) {
    QPalette p;
    p.setColor(QPalette::Active, QPalette::Window, QColor(1, 2, 3));
    p.setColor(QPalette::Active, QPalette::Base, QColor(4, 5, 6));
    p.setColor(QPalette::Active, QPalette::WindowText, QColor(7, 8, 9));
    EXPECT_EQ(ColorToQColor(clBtnFace, p), QColor(1, 2, 3));
    EXPECT_EQ(ColorToQColor(clWindow, p), QColor(4, 5, 6));
    EXPECT_EQ(ColorToQColor(clWindowText, p), QColor(7, 8, 9));
    EXPECT_EQ(ColorToQColor(clSystemColor | 200, p), QColor(Qt::black));  // unknown index
}

TEST(Font, DefaultIsMsSansSerifEightPoint) {
    TFont f;
    EXPECT_EQ(f.Name(), "MS Sans Serif");
    EXPECT_EQ(f.Height(), -11);
    EXPECT_EQ(f.Size(), 8);
    EXPECT_EQ(f.Charset(), 1);
    EXPECT_EQ(f.Color(), clWindowText);
    EXPECT_EQ(f.Pitch(), fpDefault);
    EXPECT_EQ(f.Style(), TFontStyles());
}

TEST(Font, HeightAndSizeFollowEachOtherAt96Ppi) {
    TFont f;
    f.SetSize(10);
    EXPECT_EQ(f.Height(), -13);
    f.SetSize(12);
    EXPECT_EQ(f.Height(), -16);
    f.SetHeight(-20);
    EXPECT_EQ(f.Size(), 15);
    f.SetHeight(-13);
    EXPECT_EQ(f.Size(), 10);
    f.SetHeight(16);  // cell height: the size comes out negative as on the old platform
    EXPECT_EQ(f.Size(), -12);
    EXPECT_EQ(MulDiv(-11, 72, 96), -8);
    EXPECT_EQ(MulDiv(8, 96, 72), 11);
    EXPECT_EQ(MulDiv(3, 1, 2), 2);
    EXPECT_EQ(MulDiv(-3, 1, 2), -2);
}

TEST(Font, MsSansSerifPaintsWithTheDesktopSansSerifAndKeepsItsName) {
    TFont f;
    const QFont q = f.ToQFont();
    EXPECT_EQ(q.family(), QFontDatabase::systemFont(QFontDatabase::GeneralFont).family());
    EXPECT_EQ(q.pointSize(), 8);
    // Confirming the same font in a dialog changes nothing.
    TFont back = f;
    back.AssignQFont(q);
    EXPECT_EQ(back, f);
}

TEST(Font, QFontRoundTripKeepsStyleSizeAndColour) {
    TFont f("DejaVu Serif", 12, fsBold | fsItalic | fsUnderline);
    f.SetColor(0x000000FF);
    const QFont q = f.ToQFont();
    EXPECT_EQ(q.family(), "DejaVu Serif");
    EXPECT_DOUBLE_EQ(q.pointSizeF(), 12.0);
    EXPECT_TRUE(q.bold());
    EXPECT_TRUE(q.italic());
    EXPECT_TRUE(q.underline());
    EXPECT_FALSE(q.strikeOut());
    TFont back;
    back.SetColor(0x000000FF);
    back.AssignQFont(q);
    EXPECT_EQ(back, f);

    const TFont fromQt = TFont::FromQFont(QFont("Liberation Mono", 9));
    EXPECT_EQ(fromQt.Name(), "Liberation Mono");
    EXPECT_EQ(fromQt.Height(), -12);
    EXPECT_EQ(fromQt.Color(), clWindowText);
}

TEST(Font, SubPropertiesAreReachableThroughTheMetaObject) {
    const QMetaObject& mo = TFont::staticMetaObject;
    QStringList names;
    for (int i = mo.propertyOffset(); i < mo.propertyCount(); ++i)
        names << QString::fromLatin1(mo.property(i).name());
    EXPECT_EQ(names, QStringList({"Charset", "Color", "Height", "Name", "Pitch", "Size", "Style"}));

    TFont f;
    const QMetaProperty pitch = mo.property(mo.indexOfProperty("Pitch"));
    ASSERT_TRUE(pitch.isEnumType());
    EXPECT_STREQ(pitch.enumerator().valueToKey(f.Pitch()), "fpDefault");
    EXPECT_TRUE(pitch.writeOnGadget(&f, pitch.enumerator().keyToValue("fpFixed")));
    EXPECT_EQ(f.Pitch(), fpFixed);

    const QMetaProperty style = mo.property(mo.indexOfProperty("Style"));
    ASSERT_TRUE(style.isFlagType());
    EXPECT_EQ(style.enumerator().keyToValue("fsItalic"), 2);
    EXPECT_TRUE(style.writeOnGadget(&f, int(fsBold | fsStrikeOut)));
    EXPECT_EQ(f.Style(), fsBold | fsStrikeOut);
    EXPECT_EQ(QByteArray(style.enumerator().valueToKeys(int(f.Style()))), "fsBold|fsStrikeOut");

    const QMetaProperty size = mo.property(mo.indexOfProperty("Size"));
    EXPECT_TRUE(size.writeOnGadget(&f, 14));
    EXPECT_EQ(f.Height(), -19);
}

// The font chooser starts from the font's own family in its regular style, and picking
// another family keeps the kind of style chosen (DejaVu Sans Mono lists Oblique among styles
// whose regular one is named "Book", not "Regular").
TEST(Font, ChooserKeepsTheRegularStyleAcrossFamilies) {
    if (!QFontDatabase::hasFamily("DejaVu Sans Mono") || !QFontDatabase::hasFamily("DejaVu Sans"))
        GTEST_SKIP() << "the DejaVu fonts are not installed";
    const QFont start = FontDialogStart(TFont("DejaVu Sans Mono", 10, {}));
    EXPECT_EQ(start.family(), "DejaVu Sans Mono");
    EXPECT_EQ(start.styleName(), "Book");
    EXPECT_TRUE(QFontDatabase::hasFamily(FontDialogStart(TFont()).family()));
    EXPECT_FALSE(FontDialogStart(TFont()).italic());

    struct Case {
        const char* previousStyle;
        const char* expected;
    };
    const Case cases[] = {{"Book", "Book"}, {"Bold", "Bold"}, {"Oblique", "Oblique"}};
    for (const Case& c : cases) {
        QFont previous("DejaVu Sans", 10);
        previous.setStyleName(c.previousStyle);
        QFont picked("DejaVu Sans Mono", 10);
        picked.setStyleName("Oblique");  // what the dialog selects by itself
        EXPECT_EQ(FontDialogFamilyChanged(previous, picked).styleName(), c.expected)
            << c.previousStyle;
    }
}
