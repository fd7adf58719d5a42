// The text engine on hostile bytes: encoding detection, then the line index and line walking in
// every encoding, and a search, over the input held in memory.
#include <cstddef>
#include <cstdint>
#include <string>

#include "toolkit/TextDocument.h"

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
    const std::string pattern(reinterpret_cast<const char*>(data), size < 3 ? size : 3);
    TTextSearch search(document,
                       {pattern, (pick & 0x10) != 0, (pick & 0x20) != 0, (pick & 0x40) != 0});
    search.FindAll(0, document->Size(), 64);
    return 0;
}
