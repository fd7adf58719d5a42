// Highlight patterns: their entries in the settings, their hits in UTF-8 and UTF-16 texts, the
// view and the list of matching lines painting them, and the dialog refusing an expression that
// does not compile.
#include <QCheckBox>
#include <QEventLoop>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include "text/TextTestHelpers.h"
#include "toolkit/FilterPane.h"
#include "toolkit/FindBar.h"
#include "toolkit/HighlightsDialog.h"
#include "toolkit/Memo.h"

namespace {

// Pixels of `color` in what the widget shows.
int Painted(QWidget& widget, QRgb color) {
    const QImage shot = widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
    int painted = 0;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x)
            painted += (shot.pixel(x, y) & 0xffffff) == color;
    return painted;
}

THighlightPattern Pattern(const QString& text, QRgb color, bool matchCase = false,
                          bool regex = false) {
    return {text, QColor(color), matchCase, regex};
}

}  // namespace

TEST(Highlights, EntriesRoundTripAndDamagedOnesAreSkipped) {
    const std::vector<THighlightPattern> tricky = {
        Pattern("a, \"b\" = c; d", 0x102030, true),
        Pattern("\"quoted\"", 0xffeedd),
        Pattern("100% ", 0xaabbcc, false, true),
        Pattern("'tab\there'\u3000", 0x000001, true, true),
    };
    EXPECT_EQ(HighlightsFromList(HighlightsToList(tricky)), tricky);

    struct Case {
        QStringList list;
        std::vector<THighlightPattern> expected;
    };
    const Case cases[] = {
        {{"#102030,c,x,y", "#ff0000,r,%41%zz%u00e9"},
         {Pattern("x,y", 0x102030, true), Pattern("A%zz\u00e9", 0xff0000, false, true)}},
        {{"", "no commas", "#ff0000,x", "#zz0000,,a", "#ff0000,q,a", "#ff0000,c,", "red,,b"},
         {Pattern("b", 0xff0000)}},
        {QStringList(12, "#00ff00,,n"), std::vector<THighlightPattern>(8, Pattern("n", 0x00ff00))},
    };
    for (const Case& c : cases)
        EXPECT_EQ(HighlightsFromList(c.list), c.expected) << c.list.join('|').toStdString();
}

TEST(Highlights, CompiledPatternsFindTheirHitsAndThePaintShowsThem) {
    const std::u16string text = u"Error: disk full\nwarning: retry\nERROR again\n";
    const std::vector<THighlightPattern> patterns = {
        Pattern("error", 0xaae6a0), Pattern("(", 0xaaaaaa, false, true),
        Pattern("warn\\w+", 0xaacdff, true, true), Pattern("", 0xbbbbbb)};
    for (TTextEncoding encoding : {TTextEncoding::Utf8, TTextEncoding::Utf16LE}) {
        const uint64_t unit = UnitSize(encoding), bom = encoding == TTextEncoding::Utf8 ? 0 : 2;
        TEncodingChoice choice;
        choice.encoding = encoding;
        choice.bomSize = int(bom);
        const std::string bytes =
            (bom ? texttest::Bom(encoding) : std::string()) + texttest::Encode(text, encoding);
        const std::vector<TPatternHighlight> compiled =
            CompileHighlights(patterns, texttest::Doc(bytes, choice));
        ASSERT_EQ(compiled.size(), 2u);  // the bad expression and the empty pattern left out
        auto hits = [&](size_t i) {
            std::vector<std::pair<uint64_t, uint64_t>> found;
            for (const TSearchHit& h : compiled[i].search->FindAll(0, bytes.size(), 100))
                found.emplace_back((h.offset - bom) / unit, h.length / unit);
            return found;
        };
        using Hits = std::vector<std::pair<uint64_t, uint64_t>>;
        EXPECT_EQ(hits(0), (Hits{{0, 5}, {32, 5}}));
        EXPECT_EQ(hits(1), (Hits{{17, 7}}));
        EXPECT_EQ(compiled[1].color, QColor(0xaacdff));
    }

    // The view paints each pattern's colour, in text and in hex rows.
    TMemo memo("ReadText");
    memo.resize(700, 300);
    memo.SetHighlights(HighlightsToList(patterns));
    memo.SetText(QString::fromStdU16String(text));
    for (bool hex : {true, false}) {
        memo.SetHexForced(hex);
        for (QRgb color : {0xaae6a0u, 0xaacdffu})
            EXPECT_GT(Painted(memo, color), 20) << hex << " " << std::hex << color;
    }
    // And so does the list of the lines the find bar's pattern matches.
    memo.FindBar()->Pattern()->setText("disk");
    memo.ShowFilterPane();
    TFilterPane* pane = memo.FilterPane();
    for (int i = 0; i < 500 && (pane->Filling() || pane->RowCount() == 0); ++i) {
        QEventLoop wait;
        QTimer::singleShot(10, &wait, &QEventLoop::quit);
        wait.exec();
    }
    ASSERT_EQ(pane->RowCount(), 1u);
    EXPECT_GT(Painted(*pane, 0xaae6a0), 20);
}

TEST(Highlights, DialogRefusesAnExpressionThatDoesNotCompile) {
    THighlightsDialog dialog({Pattern("keep", 0x123456, true)});
    EXPECT_EQ(dialog.PatternEdit(0)->text(), "keep");
    EXPECT_TRUE(dialog.MatchCase(0)->isChecked());
    dialog.PatternEdit(2)->setText("a(b");
    EXPECT_TRUE(dialog.OkButton()->isEnabled());
    dialog.Regex(2)->setChecked(true);
    EXPECT_FALSE(dialog.OkButton()->isEnabled());
    EXPECT_TRUE(dialog.ErrorText().startsWith("Pattern 3: "));
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    dialog.PatternEdit(2)->clear();
    EXPECT_TRUE(dialog.OkButton()->isEnabled());
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.Patterns(), std::vector<THighlightPattern>{Pattern("keep", 0x123456, true)});
}
