// The any-size text engine: encodings, lines across read blocks, find, follow.
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTimer>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "toolkit/Application.h"
#include "toolkit/FindBar.h"
#include "toolkit/Memo.h"
#include "toolkit/TextDocument.h"
#include "toolkit/TextView.h"

namespace {

std::shared_ptr<TTextDocument> Doc(const std::string& bytes, TEncodingChoice encoding = {}) {
    auto document =
        std::make_shared<TTextDocument>(std::make_shared<TMemorySource>(bytes), encoding);
    for (int i = 0; i < 2000 && !document->IndexComplete(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return document;
}

QString LineText(const TTextDocument& d, uint64_t start) {
    const TTextLine line = d.LineAt(start);
    std::string bytes(line.contentEnd - line.start, '\0');
    d.Source().Read(line.start, bytes.data(), bytes.size());
    return DecodeTextBytes(d.Encoding(), reinterpret_cast<const uint8_t*>(bytes.data()),
                           bytes.size());
}

std::string Utf16LE(const std::u16string& s) {
    std::string out;
    for (char16_t c : s)
        out += char(c & 0xFF), out += char(c >> 8);
    return out;
}

// `text` in a Unicode encoding (no byte-order mark).
std::string Encode(const QString& text, TTextEncoding encoding) {
    const QStringEncoder::Encoding target[] = {QStringEncoder::Utf8, QStringEncoder::Utf16LE,
                                               QStringEncoder::Utf16BE, QStringEncoder::Utf32LE,
                                               QStringEncoder::Utf32BE};
    QStringEncoder encoder(target[static_cast<int>(encoding)]);
    return QByteArray(encoder.encode(text)).toStdString();
}

// The byte-order mark of a Unicode encoding.
std::string Bom(TTextEncoding encoding) {
    const std::string marks[] = {"\xEF\xBB\xBF", "\xFF\xFE", "\xFE\xFF",
                                 std::string("\xFF\xFE\0\0", 4), std::string("\0\0\xFE\xFF", 4)};
    return marks[static_cast<int>(encoding)];
}

// Every hit of `query` forwards, and the last one found backwards from the end.
std::vector<TSearchHit> HitsBothWays(const std::shared_ptr<TTextDocument>& d,
                                     const TSearchQuery& query, TSearchHit& last) {
    TTextSearch search(d, query);
    EXPECT_EQ(search.Error(), "");
    bool found = false;
    search.Start(d->Size(), false, [&](bool f, TSearchHit h) { found = f, last = h; });
    search.Wait();
    EXPECT_TRUE(found);
    return search.FindAll(0, d->Size(), 100);
}

// Writes a file into `dir` and returns its path.
QString WriteFile(const QTemporaryDir& dir, const char* name, const QByteArray& bytes) {
    QFile f(dir.filePath(name));
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    return f.fileName();
}

}  // namespace

void PrintTo(const TSearchHit& h, std::ostream* out) {
    *out << "{" << h.offset << ", " << h.length << "}";
}

TEST(TextEncoding, EachDecision) {
    std::string cyrillic;  // Windows-1251 Russian text, enough for a guess
    for (int i = 0; i < 20; ++i)
        cyrillic += "\xcf\xf0\xe8\xe2\xe5\xf2, \xea\xe0\xea \xe4\xe5\xeb\xe0? ";
    // West European prose in Latin-1 and Windows-1252, with enough accents for a guess.
    std::string german, french;
    for (int i = 0; i < 4; ++i) {
        german +=
            "Gr\xF6\xDF"
            "ere \xC4pfel schmecken s\xFC\xDF, w\xE4hrend die B\xE4ume im "
            "Fr\xFChling bl\xFChen. \xDC"
            "ber den Fl\xFCssen liegt Nebel. ";
        french +=
            "L\x92\xE9t\xE9 dernier, nous sommes all\xE9s \xE0 la mer. Le gar\xE7on a "
            "mang\xE9 des cr\xEApes pr\xE8s de l\x92h\xF4tel. ";
    }
    std::string cut(64 * 1024 - 1, 'a');
    cut += "\xc3";  // the first byte of a two-byte character at the sample's end
    const struct {
        const char* name;
        std::string bytes;
        bool whole;
        TTextEncoding encoding;
        int bom;
        bool binary;
    } cases[] = {
        {"utf-8 mark", "\xEF\xBB\xBFhi", true, TTextEncoding::Utf8, 3, false},
        {"utf-16le mark", std::string("\xFF\xFEh\0i\0", 6), true, TTextEncoding::Utf16LE, 2, false},
        {"utf-16be mark", std::string("\xFE\xFF\0h\0i", 6), true, TTextEncoding::Utf16BE, 2, false},
        {"utf-32le mark", std::string("\xFF\xFE\0\0h\0\0\0", 8), true, TTextEncoding::Utf32LE, 4,
         false},
        {"utf-32be mark", std::string("\0\0\xFE\xFF\0\0\0h", 8), true, TTextEncoding::Utf32BE, 4,
         false},
        {"utf-16le zeros", Utf16LE(u"plain text\r\n"), true, TTextEncoding::Utf16LE, 0, false},
        {"utf-16be zeros", std::string("\0p\0l\0a\0i\0n", 10), true, TTextEncoding::Utf16BE, 0,
         false},
        {"valid utf-8", "caf\xC3\xA9", true, TTextEncoding::Utf8, 0, false},
        {"cut at the sample's end", cut, false, TTextEncoding::Utf8, 0, false},
        {"cut at the file's end", "ab\xC3", true, TTextEncoding::Windows1252, 0, false},
        {"few accents", "caf\xE9", true, TTextEncoding::Windows1252, 0, false},
        {"guessed code page", cyrillic, true, TTextEncoding::Legacy, 0, false},
        {"german latin-1 prose", german, true, TTextEncoding::Windows1252, 0, false},
        {"french windows-1252 prose", french, true, TTextEncoding::Windows1252, 0, false},
        {"binary",
         std::string("\x7F"
                     "ELF\x02\x01\x01\0\0\0\0\0\0\0\0\0\x03\0>\0",
                     20),
         true, TTextEncoding::Utf8, 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TEncodingChoice e = DetectEncoding(reinterpret_cast<const uint8_t*>(c.bytes.data()),
                                                 c.bytes.size(), c.whole);
        EXPECT_EQ(e.encoding, c.encoding);
        EXPECT_EQ(e.bomSize, c.bom);
        EXPECT_EQ(e.binary, c.binary);
    }
    EXPECT_EQ(
        DetectEncoding(reinterpret_cast<const uint8_t*>(cyrillic.data()), cyrillic.size(), true)
            .legacyName,
        "WINDOWS-1251");
}

// A DOS code page guessed for bytes that Windows-1252 reads as well gives way to it.
TEST(TextEncoding, WindowsCodePageBeforeADosGuess) {
    const std::string prose =
        "Gr\xFC\xDF"
        "e aus K\xF6ln, sch\xF6ne Gr\xFC\xDF"
        "e";
    const std::string undefined = prose + "\x81";  // no character in Windows-1252
    const struct {
        const char* guess;
        std::string bytes;
        const char* chosen;  // "" for Windows-1252
    } cases[] = {
        {"IBM850", prose, ""},
        {"ibm852", prose, ""},
        {"CP437", prose, ""},
        {"IBM850", undefined, "IBM850"},
        {"ISO-8859-1", prose, ""},
        {"WINDOWS-1252", prose, ""},
        {"windows-1251", prose, "WINDOWS-1251"},
        {"KOI8-R", prose, "KOI8-R"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.guess);
        EXPECT_EQ(PreferredCodePage(c.guess, reinterpret_cast<const uint8_t*>(c.bytes.data()),
                                    c.bytes.size()),
                  c.chosen);
    }
}

// Lines end at LF, CR LF and CR in any mix; the file's line numbers are those of grep -n, also
// after a line longer than the bound the index breaks lines at.
TEST(TextDocument, EveryLineEndCountsAndLineNumbersAreTheFilesOwn) {
    const std::string longLine(2 * TTextDocument::MaxLine + 10, 'x');
    const struct {
        const char* name;
        std::string bytes;
        TEncodingChoice encoding;
        std::vector<std::pair<QString, int64_t>> lines;  // text and file line (from 0)
    } cases[] = {
        {"lone cr among lf", "a\rb\nc\r\nd", {}, {{"a", 0}, {"b", 1}, {"c", 2}, {"d", 3}}},
        {"cr at the end", "a\nb\r", {}, {{"a", 0}, {"b", 1}, {"", 2}}},
        {"empty lines", "\r\r\n\n\r", {}, {{"", 0}, {"", 1}, {"", 2}, {"", 3}, {"", 4}}},
        {"utf-16",
         Utf16LE(u"a\rb\nc\r\nd"),
         {TTextEncoding::Utf16LE, 0, {}, false},
         {{"a", 0}, {"b", 1}, {"c", 2}, {"d", 3}}},
        {"long line",
         "a\n" + longLine + "\nb\n",
         {},
         {{"a", 0},
          {QString(int(TTextDocument::MaxLine), 'x'), 1},
          {QString(int(TTextDocument::MaxLine), 'x'), 1},
          {"xxxxxxxxxx", 1},
          {"b", 2},
          {"", 3}}},
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
         Utf16LE(u"\u00e9"),
         Utf16LE(u"\r\n"),
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
            EXPECT_FALSE(LineText(*d, starts[i - 1]).contains(QChar('\r')));
            EXPECT_FALSE(LineText(*d, starts[i - 1]).contains(QChar(0xFFFD)));
        }
    }
    // A line longer than the bound breaks before the character that would not fit.
    std::string longLine(TTextDocument::MaxLine - 1, 'a');
    longLine += "\xC3\xA9tail\n";
    auto d = Doc(longLine);
    EXPECT_EQ(d->LineAt(0).next, TTextDocument::MaxLine - 1);
    EXPECT_EQ(LineText(*d, TTextDocument::MaxLine - 1), QString::fromUtf8("\xC3\xA9tail"));
    EXPECT_EQ(d->LineCount(), 3u);
}

TEST(TextSearch, FindsAcrossChunksWithEveryOption) {
    const size_t chunk = 4 << 20;
    std::string bytes(2 * chunk + 64, '.');
    auto put = [&](size_t at, const std::string& s) { bytes.replace(at, s.size(), s); };
    put(100, " Needle ");
    put(chunk - 3, " needle ");  // straddles the first chunk's end
    put(chunk + 500, "needles");
    put(2 * chunk - 2, "NEEDLE\n");
    auto d = Doc(bytes);
    const struct {
        const char* name;
        TSearchQuery query;
        std::vector<uint64_t> hits;
    } cases[] = {
        {"case", {"needle", true, false, false}, {chunk - 2, chunk + 500}},
        {"any case", {"needle", false, false, false}, {101, chunk - 2, chunk + 500, 2 * chunk - 2}},
        {"whole words", {"needle", false, true, false}, {101, chunk - 2, 2 * chunk - 2}},
        {"expression", {"[Nn]eedle ", true, false, true}, {101, chunk - 2}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TTextSearch search(d, c.query);
        ASSERT_EQ(search.Error(), "");
        std::vector<uint64_t> found;
        for (const TSearchHit& h : search.FindAll(0, d->Size(), 100))
            found.push_back(h.offset);
        EXPECT_EQ(found, c.hits);
        // The worker finds the last one before the end, going backwards.
        bool ok = false;
        TSearchHit last;
        search.Start(d->Size(), false, [&](bool f, TSearchHit h) { ok = f, last = h; });
        search.Wait();
        EXPECT_TRUE(ok);
        EXPECT_EQ(last.offset, c.hits.back());
    }
    EXPECT_NE(TTextSearch(d, {"(", true, false, true}).Error(), "");
}

TEST(TextSearch, EveryOptionInEveryUnicodeEncoding) {
    const QString text = QString::fromUtf8("Größe größe GRÖSSE größer 😀x Größe_\nab Größe\n");
    const struct {
        const char* name;
        TSearchQuery query;
        std::vector<std::pair<int, int>> hits;  // position and length in UTF-16 code units
    } cases[] = {
        {"non-ASCII literal", {"Größe", true, false, false}, {{0, 5}, {30, 5}, {40, 5}}},
        {"any case", {"GRÖßE", false, false, false}, {{0, 5}, {6, 5}, {19, 5}, {30, 5}, {40, 5}}},
        {"whole words", {"größe", false, true, false}, {{0, 5}, {6, 5}, {40, 5}}},
        {"word characters", {"gr\\w+", true, false, true}, {{6, 5}, {19, 6}}},
        {"astral character", {"😀.", true, false, true}, {{26, 3}}},
        {"line start", {"^ab", true, false, true}, {{37, 2}}},
        {"look-behind", {"(?<=ab )G\\S+", true, false, true}, {{40, 5}}},
    };
    const TTextEncoding encodings[] = {TTextEncoding::Utf8, TTextEncoding::Utf16LE,
                                       TTextEncoding::Utf16BE, TTextEncoding::Utf32LE,
                                       TTextEncoding::Utf32BE};
    for (const TTextEncoding encoding : encodings) {
        for (const bool bom : {false, true}) {
            const std::string mark = bom ? Bom(encoding) : "";
            auto d = Doc(mark + Encode(text, encoding),
                         {encoding, static_cast<int>(mark.size()), {}, false});
            for (const auto& c : cases) {
                SCOPED_TRACE(std::string(c.name) + " in encoding " +
                             std::to_string(static_cast<int>(encoding)) + (bom ? " with BOM" : ""));
                std::vector<TSearchHit> want;
                for (const auto& [at, length] : c.hits)
                    want.push_back({mark.size() + Encode(text.left(at), encoding).size(),
                                    Encode(text.mid(at, length), encoding).size()});
                TSearchHit last;
                EXPECT_EQ(HitsBothWays(d, c.query, last), want);
                EXPECT_EQ(last, want.back());
            }
        }
    }
}

TEST(TextSearch, LongMatchesAcrossChunksAreFoundWhole) {
    const size_t chunk = 4 << 20;
    for (const TTextEncoding encoding :
         {TTextEncoding::Utf8, TTextEncoding::Utf16BE, TTextEncoding::Utf32LE}) {
        SCOPED_TRACE(static_cast<int>(encoding));
        const size_t u = static_cast<size_t>(UnitSize(encoding));
        std::string bytes;
        const std::string dot = Encode(".", encoding);
        while (bytes.size() < 5 * chunk)
            bytes += dot;
        auto put = [&](size_t at, const QString& s) {
            const std::string b = Encode(s, encoding);
            bytes.replace(at, b.size(), b);
            return TSearchHit{at, b.size()};
        };
        const TSearchHit straddling = put(chunk - 2 * u, "Größe");
        // Longer than what was read past a chunk before, and longer than a chunk.
        const TSearchHit medium = put(2 * chunk - 100 * u, "BEGIN" + QString(20000, 'x') + "END");
        const TSearchHit huge =
            put(3 * chunk - 1000 * u, "BEGIN" + QString(int(6 * chunk / 4 / u), 'y') + "END");
        auto d = Doc(bytes, {encoding, 0, {}, false});
        TSearchHit last;
        EXPECT_EQ(HitsBothWays(d, {"größe", false, false, false}, last),
                  std::vector<TSearchHit>{straddling});
        EXPECT_EQ(HitsBothWays(d, {"BEGIN[^#]*?END", true, false, true}, last),
                  (std::vector<TSearchHit>{medium, huge}));
        EXPECT_EQ(last, huge);
        // A repeated group over a long match needs more than the expression engine's own stack.
        EXPECT_EQ(HitsBothWays(d, {"BEGIN(?:x|yz)+END", true, false, true}, last),
                  std::vector<TSearchHit>{medium});
    }
}

TEST(TextFollow, AppendFollowsTheEndAndTruncationReloads) {
    QTemporaryDir dir;
    const QString path = dir.filePath("grow.log");
    auto write = [&](const QByteArray& bytes, QIODevice::OpenMode mode) {
        QFile f(path);
        ASSERT_TRUE(f.open(mode));
        f.write(bytes);
    };
    QByteArray lines;
    for (int i = 0; i < 200; ++i)
        lines += "line " + QByteArray::number(i) + "\n";
    write(lines, QIODevice::WriteOnly);
    TMemo memo("ReadText");
    memo.resize(300, 200);
    memo.LoadFromFile(path);
    memo.ScrollToEnd();
    ASSERT_TRUE(memo.AtEnd());
    const uint64_t top = memo.TopOffset();
    write("appended\n", QIODevice::Append);
    memo.CheckFile();
    EXPECT_EQ(memo.LineCount(), 202);
    EXPECT_GT(memo.TopOffset(), top);  // followed
    EXPECT_TRUE(memo.AtEnd());
    // Not at the end: the view stays where it is.
    memo.ScrollToOffset(0);
    write("more\n", QIODevice::Append);
    memo.CheckFile();
    EXPECT_EQ(memo.TopOffset(), 0u);
    EXPECT_EQ(memo.LineCount(), 203);
    // Truncated: shown again from the new content.
    write("short\n", QIODevice::WriteOnly | QIODevice::Truncate);
    memo.CheckFile();
    EXPECT_EQ(memo.Text(), "short\n");
}

TEST(TextFind, CtrlFOpensTheBarAndF3StepsThroughMatches) {
    TMemo memo("ReadText");
    memo.resize(400, 300);
    memo.show();
    memo.SetText("one two\ntwo three\nthree two\n");
    QKeyEvent ctrlF(QEvent::KeyPress, Qt::Key_F, Qt::ControlModifier);
    QApplication::sendEvent(&memo, &ctrlF);
    TFindBar* bar = memo.FindBar();
    ASSERT_TRUE(bar->isVisible());
    bar->Pattern()->setText("two");
    auto find = [&](Qt::KeyboardModifiers modifiers) {
        QEventLoop loop;
        bool finished = false;
        auto c = QObject::connect(bar, &TFindBar::Finished, [&] { finished = true, loop.quit(); });
        QTimer::singleShot(5000, &loop, &QEventLoop::quit);
        QKeyEvent f3(QEvent::KeyPress, Qt::Key_F3, modifiers);
        QApplication::sendEvent(&memo, &f3);
        if (!finished) loop.exec();
        QObject::disconnect(c);
        EXPECT_TRUE(finished);
        return std::make_pair(memo.SelStart(), memo.SelEnd());
    };
    const std::pair<uint64_t, uint64_t> first{4, 7}, second{8, 11}, third{24, 27};
    EXPECT_EQ(find(Qt::NoModifier), first);
    EXPECT_EQ(find(Qt::NoModifier), second);
    EXPECT_EQ(find(Qt::NoModifier), third);
    EXPECT_EQ(find(Qt::NoModifier), first);  // once round from the start
    EXPECT_EQ(find(Qt::ShiftModifier), third);
    bar->Regex()->setChecked(true);
    bar->Pattern()->setText("(");
    bar->Find(true);
    EXPECT_FALSE(bar->Status().isEmpty());  // the expression's error, at once
}

TEST(TextFind, WideTextsFindAnyCaseAndTheHexViewMarksHits) {
    QTemporaryDir dir;
    QFile f(dir.filePath("wide.txt"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray::fromStdString(
        Bom(TTextEncoding::Utf16BE) +
        Encode(QString::fromUtf8("Maß und MASS, maß\n"), TTextEncoding::Utf16BE)));
    f.close();
    TMemo memo("ReadText");
    memo.resize(700, 300);
    memo.show();
    memo.LoadFromFile(f.fileName());
    TFindBar* bar = memo.FindBar();
    bar->Open();
    bar->Pattern()->setText("MAß");
    bar->MatchCase()->setChecked(false);
    auto find = [&] {
        QEventLoop loop;
        bool finished = false;
        auto c = QObject::connect(bar, &TFindBar::Finished, [&] { finished = true, loop.quit(); });
        QTimer::singleShot(5000, &loop, &QEventLoop::quit);
        bar->Find(true);
        if (!finished) loop.exec();
        QObject::disconnect(c);
        return std::make_pair(memo.SelStart(), memo.SelEnd());
    };
    EXPECT_EQ(find(), (std::pair<uint64_t, uint64_t>{2, 8}));
    EXPECT_EQ(find(), (std::pair<uint64_t, uint64_t>{30, 36}));
    // The hex view marks the hits in the colour the text view uses.
    memo.SetHexForced(true);
    const QImage shot = memo.grab().toImage().convertToFormat(QImage::Format_RGB32);
    int marked = 0;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x)
            marked += shot.pixel(x, y) == qRgb(255, 220, 80);
    EXPECT_GT(marked, 0);
}

// Under the text: the encoding in use and the caret's line and column (of the file's lines).
TEST(TextView, StatusLineShowsTheEncodingAndTheCaret) {
    QTemporaryDir dir;
    const struct {
        const char* name;
        QByteArray bytes;
        QByteArray caretBefore;  // the caret is put before the first of these bytes
        const char* status;
    } cases[] = {
        {"latin.txt", "one\r\ntwo caf\xE9 \xE9t\xE9", "t\xE9", "Windows-1252   Line 2, Column 11"},
        {"utf8.txt", "a\rb\n\xC3\xA9t\xC3\xA9", "t", "UTF-8   Line 3, Column 2"},
        {"wide.txt", QByteArray("\xFF\xFEh\0\n\0i\0", 8), QByteArray("i", 1),
         "UTF-16 LE   Line 2, Column 1"},
    };
    TMemo memo("ReadText");
    memo.resize(400, 300);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        memo.LoadFromFile(WriteFile(dir, c.name, c.bytes));
        const qsizetype at = c.bytes.lastIndexOf(c.caretBefore);
        memo.Select(uint64_t(at), uint64_t(at));
        const auto* status = memo.findChild<QLabel*>("StatusText");
        ASSERT_NE(status, nullptr);
        EXPECT_EQ(status->text(), c.status);
    }
}

// Ctrl+C of a selection larger than the clipboard takes says so (the clipboard keeps its text).
TEST(TextView, CopyingTooLargeASelectionSaysSo) {
    QStringList errors;
    Application::SetErrorBoxHook([&](const QString& text) { errors << text; });
    QApplication::clipboard()->setText("before");
    TMemo memo("ReadText");
    memo.SetText(QString(int(TTextView::MaxCopy) + 16, QChar('x')));
    memo.SelectAll();
    QKeyEvent copy(QEvent::KeyPress, Qt::Key_C, Qt::ControlModifier);
    QApplication::sendEvent(&memo, &copy);
    Application::SetErrorBoxHook(nullptr);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains("larger than")) << errors[0].toStdString();
    EXPECT_EQ(QApplication::clipboard()->text(), "before");
}

TEST(TextView, BinaryShowsAsHexAndLargeCopiesAreRefused) {
    QTemporaryDir dir;
    const struct {
        const char* name;
        QByteArray bytes;
        bool hex;
    } cases[] = {
        {"binary.dat",
         QByteArray("\x7F"
                    "ELF\x02\x01\x01\0\0\0\0\0\0\0\0\0",
                    16),
         true},
        {"wide.txt", QByteArray("\xFF\xFEh\0i\0", 6), false},
        {"plain.txt", "plain\n", false},
    };
    TMemo memo("ReadText");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        memo.LoadFromFile(WriteFile(dir, c.name, c.bytes));
        EXPECT_EQ(memo.HexMode(), c.hex);
        memo.SetHexForced(true);  // the Hex View check shows any file so
        EXPECT_TRUE(memo.HexMode());
        memo.SetHexForced(false);
        EXPECT_EQ(memo.HexMode(), c.hex);
    }
    // A chosen encoding shows a binary file as text.
    memo.LoadFromFile(dir.filePath("binary.dat"));
    memo.SetEncoding({TTextEncoding::Windows1252, 0, {}, false});
    EXPECT_FALSE(memo.HexMode());

    memo.SetText(QString(int(TTextView::MaxCopy) + 16, QChar('x')));
    memo.SelectAll();
    EXPECT_THROW(memo.CopyToClipboard(), std::runtime_error);
    memo.Select(0, 5);
    EXPECT_NO_THROW(memo.CopyToClipboard());
    EXPECT_EQ(QApplication::clipboard()->text(), "xxxxx");
}
