// SVG documents on the imaging side: the natural size read from the root element, the content
// probe behind prologs and inside gzip, bounded inflation and clean failures, links to other
// files blanked. Drawing is the window side's (tests/display/SvgRendererTest.cpp).
#include <zlib.h>

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "common/ImagingTestHelpers.h"
#include "imaging/Exceptions.h"
#include "imaging/Picture.h"
#include "imaging/Registration.h"
#include "imaging/formats/SVGGraphic.h"

using namespace testhelp;

namespace {

const std::string kInvalid = "Cannot load image. Invalid or unexpected SVG image format.";

Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

// The text gzip-compressed (level 9).
Bytes Gzip(const std::string& text) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, 9, Z_DEFLATED, 16 + MAX_WBITS, 9, Z_DEFAULT_STRATEGY), Z_OK);
    Bytes out(deflateBound(&z, uLong(text.size())) + 64);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    z.avail_in = uInt(text.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

TEST(SVGGraphic, NaturalSizeFromTheRootAt96Dpi) {
    const struct {
        const char* text;
        int width, height;
    } cases[] = {
        {"<svg width='120' height='80'/>", 120, 80},
        {"<svg width='1in' height='0.5in'/>", 96, 48},
        {"<svg width='25.4mm' height='2.54cm'/>", 96, 96},
        {"<svg width=\"72pt\" height=\"6pc\"/>", 96, 96},
        {"<svg width='10.4px' height=' 2em '/>", 10, 32},
        {"<svg viewBox='0 0 64 32'/>", 64, 32},
        {"<svg viewBox='-5,-5, 40,20' width='100%' height='100%'/>", 40, 20},
        {"<svg width='200' viewBox='0 0 40 20'/>", 200, 100},
        {"<svg height='50' viewBox='0 0 40 20'/>", 100, 50},
        {"<svg/>", TSVGGraphic::kDefaultWidth, TSVGGraphic::kDefaultHeight},
        {"<svg width='2e9' height='1e9'/>", TSVGGraphic::kMaxSide, TSVGGraphic::kMaxSide / 2},
        {"\xEF\xBB\xBF<?xml version='1.0'?>\n<!-- <svg width='1'> -->\n"
         "<!DOCTYPE svg PUBLIC \"-//W3C//DTD SVG 1.1//EN\" \"x.dtd\" [<!ENTITY a \"]>\">]>\n"
         "<svg:svg xmlns:svg='http://www.w3.org/2000/svg' width='7' height='9'></svg:svg>",
         7, 9},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        TSVGGraphic svg;
        LoadBytes(svg, Text(c.text));
        EXPECT_EQ(svg.Width(), c.width);
        EXPECT_EQ(svg.Height(), c.height);
        EXPECT_TRUE(svg.Bitmap().Empty());  // no renderer in the imaging library
    }
}

TEST(SVGGraphic, ReadsTheViewBoxAndItsAlignment) {
    TSVGRoot root;
    const std::string text =
        "<svg viewBox='1 2 30 40' preserveAspectRatio='defer xMaxYMin slice' width='3in'>";
    ASSERT_TRUE(TSVGGraphic::ReadRoot(text.data(), text.size(), root));
    EXPECT_TRUE(root.HasViewBox);
    EXPECT_DOUBLE_EQ(root.ViewBoxX, 1);
    EXPECT_DOUBLE_EQ(root.ViewBoxHeight, 40);
    EXPECT_EQ(root.AlignX, 2);
    EXPECT_EQ(root.AlignY, 0);
    EXPECT_TRUE(root.Slice);
    EXPECT_DOUBLE_EQ(root.Width, 288);
    EXPECT_DOUBLE_EQ(root.Height, 384);
    const std::string none = "<svg preserveAspectRatio='none' viewBox='0 0 0 5'>";
    ASSERT_TRUE(TSVGGraphic::ReadRoot(none.data(), none.size(), root));
    EXPECT_TRUE(root.AlignNone);
    EXPECT_FALSE(root.HasViewBox);  // an empty viewBox counts as none
}

TEST(SVGGraphic, ProbeFindsTheRootPlainOrCompressedAndKeepsThePosition) {
    const std::string svg = "<?xml version='1.0'?><!-- drawn by hand --><svg width='4'/>";
    Bytes cut = Gzip(svg + std::string(100000, 'x'));
    cut.resize(cut.size() / 2);
    const std::string longProlog = "<!--" + std::string(TSVGGraphic::kProbeSize, '-') + "-->" + svg;
    const struct {
        Bytes bytes;
        bool svg;
    } cases[] = {
        {Text(svg), true},
        {Gzip(svg), true},
        {Gzip(svg + std::string(100000, ' ')), true},
        {cut, true},  // cut short, yet the root is in what inflates
        {Text("<html><svg width='4'/></html>"), false},
        {Text("hello <svg width='4'/>"), false},
        {Text("<svgfoo/>"), false},
        {Text(longProlog), false},  // the root lies beyond what the probe reads
        {Gzip("<html/>"), false},
        {Bytes{0x1F, 0x8B, 8, 0}, false},
        {Text("\x89PNG\r\n\x1a\n"), false},
        {Bytes{}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(
            std::string(c.bytes.begin(), c.bytes.begin() + std::min<size_t>(40, c.bytes.size())));
        Bytes padded = Text("##");
        PutBytes(padded, c.bytes);
        TMemoryStream stream(padded.data(), int64_t(padded.size()));
        stream.SetPosition(2);
        EXPECT_EQ(TSVGGraphic::ProbeStream(stream), c.svg);
        EXPECT_EQ(stream.Position(), 2);
    }
}

TEST(SVGGraphic, DamagedAndHostileDocumentsFailCleanly) {
    const std::string svg = "<svg width='10' height='10'><rect width='5' height='5'/></svg>";
    const Bytes packed = Gzip(svg);
    // A compressed document that would inflate beyond the bound (the bound and a little more).
    const Bytes bomb = Gzip("<svg width='1' height='1'>" +
                            std::string(TSVGGraphic::kMaxDocumentSize, ' ') + "</svg>");
    EXPECT_LT(bomb.size(), size_t(1) << 20);
    // Seven levels of ten references each: ten million elements drawn from a small file.
    std::string uses = "<svg width='1' height='1'><rect id='a0' width='1' height='1'/>";
    for (int level = 1; level <= 7; ++level) {
        uses += "<g id='a" + std::to_string(level) + "'>";
        for (int i = 0; i < 10; ++i)
            uses += "<use href='#a" + std::to_string(level - 1) + "'/>";
        uses += "</g>";
    }
    uses += "</svg>";
    const struct {
        const char* what;
        Bytes bytes;
    } cases[] = {
        {"not XML", Text("just some text")},
        {"empty", Bytes{}},
        {"another root", Text("<html width='10' height='10'/>")},
        {"zero width", Text("<svg width='0' height='10'/>")},
        {"cut gzip", Bytes(packed.begin(), packed.end() - 6)},
        {"damaged gzip", ZeroTail(packed, 10)},
        {"gzip bomb", bomb},
        {"cut prolog", Text("<?xml version='1.0'")},
        {"references multiplied", Text(uses)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(LoadError<TSVGGraphic>(c.bytes), kInvalid);
    }
    EXPECT_EQ(LoadError<TSVGGraphic>(packed), "no error");
    // Five levels (some 200,000 elements) and a reference to itself are drawn.
    const size_t five = uses.find("<g id='a6'>");
    EXPECT_EQ(LoadError<TSVGGraphic>(Text(uses.substr(0, five) + "</svg>")), "no error");
    EXPECT_EQ(LoadError<TSVGGraphic>(Text("<svg><g id='a'><use href='#a'/></g></svg>")),
              "no error");
}

TEST(SVGGraphic, LinksToOtherFilesAreBlankedDataUrlsKept) {
    const std::string svg =
        "<svg width='8' height='8' xmlns:xlink='http://www.w3.org/1999/xlink'>"
        "<image xlink:href='/etc/passwd' width='4' height='4'/>"
        "<!-- a < b --><svg:image href=\"http://example.com/a.png\"/>"
        "<image href=' data:image/png;base64,AAAA'/><use xlink:href='#a'/></svg>";
    TSVGGraphic graphic;
    LoadBytes(graphic, Text(svg));
    const std::string& doc = graphic.Document();
    EXPECT_EQ(doc.size(), svg.size());
    EXPECT_EQ(doc.find("passwd"), std::string::npos);
    EXPECT_EQ(doc.find("example.com"), std::string::npos);
    EXPECT_NE(doc.find("data:image/png;base64,AAAA"), std::string::npos);
    EXPECT_NE(doc.find("'#a'"), std::string::npos);
}

// A file whose name lies is loaded by its content; both extensions are registered.
TEST(SVGGraphic, RegisteredAndFoundByContent) {
    RegisterImageFormats();
    EXPECT_EQ(TPicture::FindGraphicClass("SVG"), &TSVGGraphic::ClassInfo());
    EXPECT_EQ(TPicture::FindGraphicClass("svgz"), &TSVGGraphic::ClassInfo());
    const auto dir = std::filesystem::temp_directory_path();
    for (const auto& [name, bytes] :
         {std::pair{"velkaro_svg_lie.png", Text("<svg width='3' height='2'/>")},
          std::pair{"velkaro_svgz_noext", Gzip("<svg width='3' height='2'/>")}}) {
        SCOPED_TRACE(name);
        const auto path = dir / name;
        WriteFileBytes(path, bytes);
        std::unique_ptr<TGraphic> graphic = TPicture::LoadGraphic(path.string());
        ASSERT_NE(graphic, nullptr);
        EXPECT_EQ(&graphic->ClassType(), &TSVGGraphic::ClassInfo());
        EXPECT_EQ(graphic->Width(), 3);
        std::filesystem::remove(path);
    }
    UnregisterImageFormats();
}

}  // namespace
