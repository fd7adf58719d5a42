// The lines a filter lists equal what `grep -n` prints for the same file, in UTF-8 and UTF-16,
// also when the file grows while it is filtered.
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "text/LineFilter.h"
#include "text/TextTestHelpers.h"

using texttest::Decode;
using texttest::Encode;

namespace {

struct TGrepLine {
    uint64_t number = 0;
    std::u16string text;
};

// A file with lines of every kind, over several of the chunks the search and the filter read; CR LF
// ends lines only near its start, so that most of it is counted the quick way.
std::string LogText() {
    std::string text;
    for (int i = 0; text.size() < (5u << 20); ++i) {
        text += "2026-12-10 line " + std::to_string(i);
        switch (i % 11) {
            case 0:
                text +=
                    i < 3000 ? " ERROR disk full, error again\r" : " ERROR disk full, error again";
                break;
            case 3:
                text += " warn: caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC error42";
                break;
            case 5:
                text += " Errors: " + std::string(40000, 'x') + " error";
                break;
            case 7:
                text += "";
                break;
            default:
                text += " ok terror";
                break;
        }
        text += "\n";
        if (i % 13 == 0) text += "\n";
    }
    return text + "last error without a line end";
}

std::string WriteTemp(const std::string& bytes) {
    char name[] = "/tmp/velkaro-filter-XXXXXX";
    const int fd = mkstemp(name);
    EXPECT_GE(fd, 0);
    ::close(fd);
    std::ofstream(name, std::ios::binary) << bytes;
    return name;
}

std::vector<TGrepLine> Grep(const std::string& options, const std::string& pattern,
                            const std::string& file) {
    const std::string command =
        "LC_ALL=C.UTF-8 grep -n " + options + " -e '" + pattern + "' '" + file + "'";
    std::vector<TGrepLine> lines;
    FILE* out = popen(command.c_str(), "r");
    if (!out) return lines;
    std::string all;
    char buffer[65536];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, out)) > 0;)
        all.append(buffer, n);
    pclose(out);
    for (size_t at = 0; at < all.size();) {
        size_t end = all.find('\n', at);
        if (end == std::string::npos) end = all.size();
        const size_t colon = all.find(':', at);
        std::string text = all.substr(colon + 1, end - colon - 1);
        if (!text.empty() && text.back() == '\r') text.pop_back();
        lines.push_back(
            {std::stoull(all.substr(at, colon - at)), Decode(text, TTextEncoding::Utf8)});
        at = end + 1;
    }
    return lines;
}

// The filter's lines with their text up to the line end, read from `bytes`.
std::vector<TGrepLine> Listed(const TLineFilter& filter, const std::string& bytes,
                              TTextEncoding encoding) {
    std::vector<TGrepLine> lines;
    const size_t u = size_t(UnitSize(encoding));
    const size_t low = LittleEndian(encoding) ? 0 : u - 1;  // the byte an ASCII unit is in
    for (size_t i = 0; i < filter.Count(); ++i) {
        const TFilterLine line = filter.At(i);
        size_t end = size_t(line.start);
        while (end + u <= bytes.size() &&
               !((bytes[end + low] == '\n' || bytes[end + low] == '\r') &&
                 bytes.substr(end, u).find_first_not_of(std::string("\n\r\0", 3)) ==
                     std::string::npos))
            end += u;
        lines.push_back(
            {line.number, Decode(bytes.substr(line.start, end - line.start), encoding)});
    }
    return lines;
}

}  // namespace

TEST(LineFilter, ListsWhatGrepPrintsInUtf8AndUtf16WhileTheFileGrows) {
    const std::string text = LogText();
    const std::string utf8File = WriteTemp(text);
    auto wide = [&](TTextEncoding encoding) {
        return texttest::Bom(encoding) + Encode(Decode(text, TTextEncoding::Utf8), encoding);
    };
    const std::string utf16le = wide(TTextEncoding::Utf16LE),
                      utf16be = wide(TTextEncoding::Utf16BE);
    const struct {
        const char* grepOptions;
        TSearchQuery query;
    } cases[] = {
        {"-F", {"error", true, false, false}},
        {"-F -i", {"error", false, false, false}},
        {"-F -w", {"error", true, true, false}},
        {"-F", {"caf\xC3\xA9 \xE6\x97\xA5", true, false, false}},
        {"-P", {"^2026-\\d+-10 line \\d*7\\b", true, false, true}},
        {"-P", {"error\\d+$", true, false, true}},
        {"-P -i", {"err(or)?s?:", false, false, true}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.query.pattern);
        const std::vector<TGrepLine> expected = Grep(c.grepOptions, c.query.pattern, utf8File);
        ASSERT_FALSE(expected.empty());
        for (const TTextEncoding encoding :
             {TTextEncoding::Utf8, TTextEncoding::Utf16LE, TTextEncoding::Utf16BE}) {
            SCOPED_TRACE(int(encoding));
            const std::string& bytes = encoding == TTextEncoding::Utf8      ? text
                                       : encoding == TTextEncoding::Utf16LE ? utf16le
                                                                            : utf16be;
            TEncodingChoice choice;
            choice.encoding = encoding;
            choice.bomSize = encoding == TTextEncoding::Utf8 ? 0 : 2;
            // The file is filtered once half written (cut inside a line), then again grown.
            const std::string file = WriteTemp(bytes.substr(0, bytes.size() / 2 + 1));
            auto document =
                std::make_shared<TTextDocument>(std::make_shared<TFileSource>(file, file), choice);
            auto search = std::make_shared<TTextSearch>(document, c.query);
            ASSERT_EQ(search->Error(), "");
            TLineFilter filter(document, search);
            filter.Start();
            filter.Wait();
            const size_t early = filter.Count();
            std::ofstream(file, std::ios::binary | std::ios::app)
                << bytes.substr(bytes.size() / 2 + 1);
            document->Grow(bytes.size());
            filter.Run();
            EXPECT_GT(filter.Count(), early);
            EXPECT_EQ(filter.FilteredTo(), bytes.size());
            const std::vector<TGrepLine> listed = Listed(filter, bytes, encoding);
            ASSERT_EQ(listed.size(), expected.size());
            for (size_t i = 0; i < listed.size(); ++i) {
                ASSERT_EQ(listed[i].number, expected[i].number) << i;
                ASSERT_TRUE(listed[i].text == expected[i].text) << expected[i].number;
            }
            EXPECT_EQ(filter.LowerBound(filter.At(3).start), 3u);
            ::unlink(file.c_str());
        }
    }
    ::unlink(utf8File.c_str());
}
