// Lines of a document: every kind of line end, across read blocks, and long lines broken.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "text/TextDocument.h"
#include "text/TextSearch.h"
#include "text/TextTestHelpers.h"

using texttest::Doc;
using texttest::Encode;

namespace {

// The text of the line starting at `start`, without its line end.
std::u16string LineText(const TTextDocument& d, uint64_t start) {
    const TTextLine line = d.LineAt(start);
    std::string bytes(line.contentEnd - line.start, '\0');
    d.Source().Read(line.start, bytes.data(), bytes.size());
    return texttest::Decode(bytes, d.Encoding().encoding);
}

}  // namespace

// Lines end at LF, CR LF and CR in any mix; the file's line numbers are those of grep -n, also
// after a line longer than the bound the index breaks lines at.
TEST(TextDocument, EveryLineEndCountsAndLineNumbersAreTheFilesOwn) {
    const std::string longLine(2 * TTextDocument::MaxLine + 10, 'x');
    const struct {
        const char* name;
        std::string bytes;
        TEncodingChoice encoding;
        std::vector<std::pair<std::u16string, int64_t>> lines;  // text and file line (from 0)
    } cases[] = {
        {"lone cr among lf", "a\rb\nc\r\nd", {}, {{u"a", 0}, {u"b", 1}, {u"c", 2}, {u"d", 3}}},
        {"cr at the end", "a\nb\r", {}, {{u"a", 0}, {u"b", 1}, {u"", 2}}},
        {"empty lines", "\r\r\n\n\r", {}, {{u"", 0}, {u"", 1}, {u"", 2}, {u"", 3}, {u"", 4}}},
        {"utf-16",
         Encode(u"a\rb\nc\r\nd", TTextEncoding::Utf16LE),
         {TTextEncoding::Utf16LE, 0, {}, false},
         {{u"a", 0}, {u"b", 1}, {u"c", 2}, {u"d", 3}}},
        {"long line",
         "a\n" + longLine + "\nb\n",
         {},
         {{u"a", 0},
          {std::u16string(TTextDocument::MaxLine, u'x'), 1},
          {std::u16string(TTextDocument::MaxLine, u'x'), 1},
          {u"xxxxxxxxxx", 1},
          {u"b", 2},
          {u"", 3}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto d = Doc(c.bytes, c.encoding);
        ASSERT_EQ(d->LineCount(), c.lines.size());
        uint64_t start = d->TextStart();
        for (size_t i = 0; i < c.lines.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(d->LineStart(i), start);
            EXPECT_EQ(LineText(*d, start), c.lines[i].first);
            EXPECT_EQ(d->FileLineAt(start), c.lines[i].second);
            if (i > 0) {
                EXPECT_EQ(d->PreviousLineStart(start), d->LineStart(i - 1));
            }
            start = d->LineAt(start).next;
        }
    }
    // An expression's "^" and "$" know the same line ends.
    auto d = Doc("a\rb\nc\r\nd");
    TTextSearch search(d, {"^[bc]$", true, false, true});
    EXPECT_EQ(search.FindAll(0, d->Size(), 10), (std::vector<TSearchHit>{{2, 1}, {4, 1}}));
}

// Lines split between read blocks (the index reads 4 MiB at a time, the view 4 KiB then 16 KiB):
// a CR LF and a multi-byte character straddle each boundary, and a line without an end is broken
// before a character, never inside one.
TEST(TextDocument, LinesAcrossBlockBoundaries) {
    const size_t block = 4 << 20;
    struct TCase {
        const char* name;
        std::string filler, end;  // the line body's unit and the line end
        TEncodingChoice encoding;
    };
    const TCase cases[] = {
        {"crlf", "x", "\r\n", {}},
        {"lf", "\xC3\xA9", "\n", {}},
        {"cr", "y", "\r", {}},
        {"cr between lf", "z", "\r", {}},
        {"utf-16 crlf",
         Encode(u"\u00e9", TTextEncoding::Utf16LE),
         Encode(u"\r\n", TTextEncoding::Utf16LE),
         {TTextEncoding::Utf16LE, 0, {}, false}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::string bytes;
        std::vector<uint64_t> starts;
        // A file that also holds LF still ends lines at a lone CR.
        if (c.name == std::string("cr between lf")) {
            starts.push_back(0);
            bytes = "first\n";
        }
        // Lines of varying length until past two blocks; one ends right across each boundary.
        for (size_t n = 1; bytes.size() < 2 * block + 100; n = n % 97 + 1) {
            starts.push_back(bytes.size());
            const size_t boundary = (bytes.size() / block + 1) * block;
            std::string line;
            for (size_t i = 0; i < n; ++i)
                line += c.filler;
            if (bytes.size() + line.size() + c.end.size() > boundary &&
                bytes.size() + line.size() < boundary) {
                // Stretch the line so that its end straddles the boundary.
                while (bytes.size() + line.size() + 1 < boundary)
                    line += c.filler.substr(0, 1) == "\xC3" ? "a" : c.filler;
            }
            bytes += line + c.end;
        }
        auto d = Doc(bytes, c.encoding);
        ASSERT_TRUE(d->IndexComplete());
        ASSERT_EQ(d->LineCount(), starts.size() + 1);
        for (size_t i = 0; i < starts.size(); i += 997)
            EXPECT_EQ(d->LineStart(i), starts[i]) << i;
        for (size_t i = 1; i < starts.size(); ++i) {
            if (starts[i] / block == starts[i - 1] / block) continue;
            EXPECT_EQ(d->LineStart(i), starts[i]);
            EXPECT_EQ(d->LineNumberAt(starts[i]), int64_t(i));
            EXPECT_EQ(d->LineAt(starts[i - 1]).next, starts[i]);
            EXPECT_EQ(d->PreviousLineStart(starts[i]), starts[i - 1]);
            EXPECT_FALSE(LineText(*d, starts[i - 1]).find(u'\r') != std::u16string::npos);
            EXPECT_FALSE(LineText(*d, starts[i - 1]).find(u'\uFFFD') != std::u16string::npos);
        }
    }
    // A line longer than the bound breaks before the character that would not fit.
    std::string longLine(TTextDocument::MaxLine - 1, 'a');
    longLine += "\xC3\xA9tail\n";
    auto d = Doc(longLine);
    EXPECT_EQ(d->LineAt(0).next, TTextDocument::MaxLine - 1);
    EXPECT_EQ(LineText(*d, TTextDocument::MaxLine - 1), u"\u00e9tail");
    EXPECT_EQ(d->LineCount(), 3u);
    // So does one that reaches the end of a block the index reads.
    std::string atBlockEnd;
    while (atBlockEnd.size() < block - TTextDocument::MaxLine)
        atBlockEnd += "x\n";
    atBlockEnd.resize(block - TTextDocument::MaxLine, 'x');
    atBlockEnd += std::string(TTextDocument::MaxLine - 1, 'a') + "\xC3\xA9tail\n";
    d = Doc(atBlockEnd);
    EXPECT_EQ(LineText(*d, d->LineStart(d->LineNumberAt(block - 1))), u"\u00e9tail");
}

// Go to line: the file's own line numbers from 1 (a line broken at the bound counts once),
// percentages of the bytes, a number past the end the last line.
TEST(TextDocument, LineTargetsParseAndFindTheirLine) {
    std::string text;
    for (int i = 0; i < 100; ++i)
        text += std::string(7, char('a' + i % 26)) + "\n";  // 8 bytes a line
    const auto lines = Doc(text);
    const auto broken = Doc("a\n" + std::string(40000, 'x') + "\nb\n");
    const struct {
        const char* typed;
        bool valid;
        uint64_t start;
        bool brokenDoc = false;
    } cases[] = {
        {"1", true, 0},           {" 10 ", true, 72},       {"100", true, 792},
        {"101", true, 800},       {"5000", true, 800},      {"0", true, 0},
        {"50%", true, 400},       {"100%", true, 800},      {"0%", true, 0},
        {"150%", false, 0},       {"", false, 0},           {"-3", false, 0},
        {"12a", false, 0},        {"%", false, 0},          {"99999999999999999999", false, 0},
        {"2", true, 2, true},     {"3", true, 40003, true}, {"4", true, 40005, true},
        {"9", true, 40005, true},
    };
    for (const auto& c : cases) {
        TLineTarget target;
        ASSERT_EQ(ParseLineTarget(c.typed, target), c.valid) << c.typed;
        if (!c.valid) continue;
        uint64_t start = 1;
        ASSERT_TRUE((c.brokenDoc ? broken : lines)->TargetLineStart(target, start)) << c.typed;
        EXPECT_EQ(start, c.start) << c.typed;
    }
}
