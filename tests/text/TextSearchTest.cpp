// Finding literals and expressions in every encoding, across the chunks a search reads.
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "text/TextSearch.h"
#include "text/TextTestHelpers.h"

using texttest::Bom;
using texttest::Doc;
using texttest::Encode;

namespace {

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

}  // namespace

void PrintTo(const TSearchHit& h, std::ostream* out) {
    *out << "{" << h.offset << ", " << h.length << "}";
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
    const std::u16string text = u"Größe größe GRÖSSE größer 😀x Größe_\nab Größe\n";
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
                    want.push_back({mark.size() + Encode(text.substr(0, at), encoding).size(),
                                    Encode(text.substr(at, length), encoding).size()});
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
        const std::string dot = Encode(u".", encoding);
        while (bytes.size() < 5 * chunk)
            bytes += dot;
        auto put = [&](size_t at, const std::u16string& s) {
            const std::string b = Encode(s, encoding);
            bytes.replace(at, b.size(), b);
            return TSearchHit{at, b.size()};
        };
        const TSearchHit straddling = put(chunk - 2 * u, u"Größe");
        // Longer than what was read past a chunk before, and longer than a chunk.
        const TSearchHit medium =
            put(2 * chunk - 100 * u, u"BEGIN" + std::u16string(20000, u'x') + u"END");
        const TSearchHit huge =
            put(3 * chunk - 1000 * u, u"BEGIN" + std::u16string(6 * chunk / 4 / u, u'y') + u"END");
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

// A literal is looked for at its rarest byte first; where that byte is common the search goes on
// another way and still finds every hit.
TEST(TextSearch, LiteralsWhoseRareByteIsCommonAreStillFound) {
    std::string bytes(300000, 'q');
    for (const size_t at : {7u, 150000u, 299990u})
        bytes.replace(at, 3, "zqz");
    auto d = Doc(bytes);
    TTextSearch search(d, {"zqz", true, false, false});
    std::vector<uint64_t> found;
    for (const TSearchHit& hit : search.FindAll(0, d->Size(), 10))
        found.push_back(hit.offset);
    EXPECT_EQ(found, (std::vector<uint64_t>{7, 150000, 299990}));
}
