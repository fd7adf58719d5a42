// The text engine on hostile bytes: encoding detection, then the line index and line walking in
// every encoding, and a search in each of its modes (8, 16 and 32-bit code units), over the input
// held in memory, and the lines a filter lists for that search.
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

#include "text/LineFilter.h"
#include "text/TextDocument.h"
#include "text/TextEncoding.h"
#include "text/TextSearch.h"
#include "text/TextSource.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    // The first byte picks the encoding to force (or none), the rest is the file.
    const uint8_t pick = data[0];
    ++data, --size;
    TEncodingChoice encoding = DetectEncoding(data, size, (pick & 0x80) != 0);
    const TTextEncoding forced[] = {TTextEncoding::Utf8,    TTextEncoding::Utf16LE,
                                    TTextEncoding::Utf16BE, TTextEncoding::Utf32LE,
                                    TTextEncoding::Utf32BE, TTextEncoding::Windows1252};
    if ((pick & 7) < 6) {
        encoding.encoding = forced[pick & 7];
        encoding.bomSize = (pick >> 3) & 7;
    }
    auto document = std::make_shared<TTextDocument>(
        std::make_shared<TMemorySource>(std::string(reinterpret_cast<const char*>(data), size)),
        encoding);
    const uint64_t lines = document->LineCount();
    uint64_t at = document->TextStart();
    for (uint64_t i = 0; i < lines && i < 4096; ++i) {
        const TTextLine line = document->LineAt(at);
        if (line.start != document->LineStart(i) || line.contentEnd > line.next ||
            line.next > document->Size() || line.next - line.start > TTextDocument::MaxLine + 4)
            __builtin_trap();
        if (document->LineNumberAt(at) != int64_t(i)) __builtin_trap();
        if (i > 0 && document->PreviousLineStart(at) != document->LineStart(i - 1))
            __builtin_trap();
        if (line.last || line.next <= at) break;
        at = line.next;
    }
    for (uint64_t offset = 0; offset <= size; offset += 1 + size / 64)
        if (document->LineStartAt(offset) > offset && offset >= document->TextStart())
            __builtin_trap();
    // The pattern is the file's first bytes (UTF-8, or code page bytes), as many as the last byte
    // says; wide encodings compile it at 16 or 32 bits.
    const size_t length = 1 + (size ? data[size - 1] % 6 : 0);
    const std::string pattern(reinterpret_cast<const char*>(data), size < length ? size : length);
    TTextSearch search(document,
                       {pattern, (pick & 0x10) != 0, (pick & 0x20) != 0, (pick & 0x40) != 0});
    const uint64_t end = document->Size();
    const uint64_t unit = static_cast<uint64_t>(document->Unit());
    auto check = [&](const TSearchHit& hit, uint64_t from, uint64_t to) {
        if (hit.offset < from || hit.offset >= to || hit.offset + hit.length > end ||
            hit.offset < document->TextStart() || (hit.offset - document->TextStart()) % unit)
            __builtin_trap();
    };
    // The whole text, and a short range whose matches run past it (read again from their start).
    for (const auto& [from, to] :
         {std::pair<uint64_t, uint64_t>{0, end}, {end / 3, end / 3 + 64}}) {
        uint64_t previous = from;
        for (const TSearchHit& hit : search.FindAll(from, to, 64)) {
            check(hit, std::max(from, previous), to);
            previous = hit.offset + hit.length;
        }
    }
    // The lines the filter lists: in order, each a line start, numbered as the index numbers it.
    if (search.Error().empty() && document->IndexComplete()) {
        TLineFilter filter(document, std::shared_ptr<const TTextSearch>(&search, [](auto*) {}));
        filter.Run();
        uint64_t previous = 0;
        for (size_t i = 0; i < filter.Count(); ++i) {
            const TFilterLine line = filter.At(i);
            if ((i > 0 && line.number <= previous) || line.start > end ||
                document->LineStartAt(line.start) != line.start ||
                document->FileLineAt(line.start) + 1 != int64_t(line.number))
                __builtin_trap();
            previous = line.number;
        }
    }
    if (pick & 0x08) {
        search.Start(end, false, [&](bool found, TSearchHit hit) {
            if (found) check(hit, 0, end);
        });
        search.Wait();
    }
    return 0;
}
