#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "imaging/Bitmap.h"
#include "imaging/Exceptions.h"
#include "imaging/FileFormatList.h"
#include "imaging/Picture.h"
#include "imaging/Registration.h"

#include "common/ImagingTestHelpers.h"

namespace {

// Descriptors of made-up classes: the registry only compares their addresses.
const TGraphicClass kClassA{"TClassA", [] { return std::make_unique<TBitmap>(); }, nullptr,
                            nullptr};
const TGraphicClass kClassB{"TClassB", [] { return std::make_unique<TBitmap>(); }, nullptr,
                            nullptr};

std::string PictureDescription(const std::string& extension) {
    for (const TPictureFileFormat& f : TPicture::FileFormats())
        if (f.Extension == extension) return f.Description;
    return "<none>";
}

std::vector<std::string> Extensions(const TFileFormatList& list) {
    std::vector<std::string> result;
    for (int i = 0; i < list.ExtensionCount(); ++i)
        result.push_back(list.ExtensionRecord(i).Extension);
    return result;
}

}  // namespace

TEST(FileFormatList, RegisteringTwiceRaisesAndChangesNothing) {
    TFileFormatList list;
    list.RegisterFileFormat("abc", "Alpha images", "", fmtRaster, false, &kClassA);
    try {
        list.RegisterFileFormat("ABC", "Other images", "Other", fmtVector, false, &kClassB);
        FAIL() << "no exception";
    } catch (const EInvalidGraphic& e) {
        EXPECT_STREQ(e.what(), "Attempt to register ABC twice.");
    }
    ASSERT_EQ(list.ExtensionCount(), 1);
    ASSERT_EQ(list.ClassCount(), 1);
    EXPECT_EQ(list.ClassRecord(0).GraphicClass, &kClassA);
    EXPECT_EQ(list.ClassRecord(0).Description, "Alpha images");
    EXPECT_EQ(list.ClassRecord(0).Count, 1);
    EXPECT_EQ(list.ExtensionRecord(0).Types, fmtRaster);
    EXPECT_EQ(TPicture::FindGraphicClass("abc"), &kClassA);
    EXPECT_EQ(PictureDescription("abc"), "Alpha images");
}

TEST(FileFormatList, ExtensionsMatchWithoutRegardToCase) {
    TFileFormatList list;
    list.RegisterFileFormat("png", "Portable network graphic images", "", fmtRaster, false,
                            &kClassA);
    EXPECT_EQ(list.FindExtension("PNG"), 0);
    EXPECT_EQ(list.FindExtension("pNg"), 0);
    EXPECT_EQ(list.FindExtension("pn"), -1);
    EXPECT_EQ(list.GraphicClassOf("Png"), &kClassA);
    EXPECT_EQ(TPicture::FindGraphicClass("PNG"), &kClassA);
    EXPECT_EQ(list.FindGraphicClass(&kClassA), 0);
    EXPECT_EQ(list.FindGraphicClass(&kClassB), -1);
}

TEST(FileFormatList, SharedClassCountsItsExtensions) {
    TFileFormatList list;
    list.RegisterFileFormat("cel", "Autodesk images", "", fmtRaster, false, &kClassA);
    list.RegisterFileFormat("pic", "Autodesk images", "", fmtRaster, false, &kClassA);
    ASSERT_EQ(list.ClassCount(), 1);
    EXPECT_EQ(list.ClassRecord(0).Count, 2);
    EXPECT_EQ(list.ExtensionRecord(1).ClassRecord, &list.ClassRecord(0));

    list.UnregisterFileFormat("CEL", &kClassB);  // the class argument is not consulted
    ASSERT_EQ(list.ClassCount(), 1);
    EXPECT_EQ(list.ClassRecord(0).Count, 1);
    EXPECT_EQ(Extensions(list), std::vector<std::string>{"pic"});
    EXPECT_EQ(TPicture::FindGraphicClass("pic"), &kClassA);

    list.UnregisterFileFormat("pic", nullptr);
    EXPECT_EQ(list.ClassCount(), 0);
    EXPECT_EQ(list.ExtensionCount(), 0);
    EXPECT_EQ(TPicture::FindGraphicClass("pic"), nullptr);
    EXPECT_EQ(TPicture::FindGraphicClass("cel"), nullptr);
}

TEST(FileFormatList, EmptyAndUnknownExtensionsAreIgnored) {
    TFileFormatList list;
    list.RegisterFileFormat("", "Nothing", "", fmtRaster, false, &kClassA);
    EXPECT_EQ(list.ExtensionCount(), 0);
    EXPECT_EQ(list.ClassCount(), 0);
    EXPECT_EQ(list.FindExtension(""), -1);

    list.RegisterFileFormat("aaa", "Alpha images", "", fmtRaster, false, &kClassA);
    list.UnregisterFileFormat("zzz", &kClassA);
    list.UnregisterFileFormat("", &kClassB);  // a class that was never registered
    EXPECT_EQ(list.ExtensionCount(), 1);
    EXPECT_EQ(list.ClassRecord(0).Count, 1);
    EXPECT_THROW(list.RegisterFileFormat("bbb", "", "", 0, false, nullptr), std::invalid_argument);
}

TEST(FileFormatList, UnregisterByClassRemovesOnlyItsExtensions) {
    TFileFormatList list;
    list.RegisterFileFormat("a1", "Alpha images", "", fmtRaster, false, &kClassA);
    list.RegisterFileFormat("b1", "Beta images", "", fmtRaster, false, &kClassB);
    list.RegisterFileFormat("a2", "", "", fmtRaster, false, &kClassA);
    list.RegisterFileFormat("b2", "", "", fmtRaster, false, &kClassB);
    list.RegisterFileFormat("a3", "", "", fmtRaster, false, &kClassA);

    list.UnregisterFileFormat("", &kClassA);
    EXPECT_EQ(Extensions(list), (std::vector<std::string>{"b1", "b2"}));
    ASSERT_EQ(list.ClassCount(), 1);
    EXPECT_EQ(list.ClassRecord(0).GraphicClass, &kClassB);
    EXPECT_EQ(list.ClassRecord(0).Count, 2);
    EXPECT_EQ(TPicture::FindGraphicClass("a2"), nullptr);
    EXPECT_EQ(TPicture::FindGraphicClass("b2"), &kClassB);
}

TEST(FileFormatList, ClearAndDestructionUnregisterFromThePictureHolder) {
    {
        TFileFormatList list;
        list.RegisterFileFormat("a1", "Alpha images", "", fmtRaster, false, &kClassA);
        list.RegisterFileFormat("b1", "Beta images", "", fmtRaster, false, &kClassB);
        list.Clear();
        EXPECT_EQ(list.ExtensionCount(), 0);
        EXPECT_EQ(list.ClassCount(), 0);
        EXPECT_EQ(TPicture::FindGraphicClass("a1"), nullptr);
        EXPECT_EQ(TPicture::FindGraphicClass("b1"), nullptr);

        list.RegisterFileFormat("a1", "Alpha images", "", fmtRaster, false, &kClassA);
        EXPECT_EQ(TPicture::FindGraphicClass("a1"), &kClassA);
    }
    EXPECT_EQ(TPicture::FindGraphicClass("a1"), nullptr);
}

TEST(FileFormatList, ReplaceRebindsToTheNewClass) {
    TFileFormatList list;
    list.RegisterFileFormat("a1", "Alpha images", "First alpha", fmtRaster, false, &kClassA);
    list.RegisterFileFormat("a2", "", "", fmtRaster, false, &kClassA);

    // Same class: the lists stay as they are.
    list.RegisterFileFormat("a1", "Changed", "Changed", fmtVector, true, &kClassA);
    EXPECT_EQ(list.ClassRecord(0).Description, "Alpha images");
    EXPECT_EQ(list.ClassRecord(0).Count, 2);

    // Another class: a1 moves over, A keeps a2.
    list.RegisterFileFormat("a1", "Beta images", "", fmtRaster, true, &kClassB);
    ASSERT_EQ(list.ClassCount(), 2);
    EXPECT_EQ(list.ClassRecord(0).Count, 1);
    EXPECT_EQ(list.ClassRecord(1).GraphicClass, &kClassB);
    EXPECT_EQ(list.ClassRecord(1).Count, 1);
    EXPECT_EQ(TPicture::FindGraphicClass("a1"), &kClassB);
    EXPECT_EQ(PictureDescription("a1"), "First alpha");  // the record keeps its description

    // The last extension of A moves: A's record goes.
    list.RegisterFileFormat("a2", "", "", fmtRaster, true, &kClassB);
    ASSERT_EQ(list.ClassCount(), 1);
    EXPECT_EQ(list.ClassRecord(0).GraphicClass, &kClassB);
    EXPECT_EQ(list.ClassRecord(0).Count, 2);
    EXPECT_EQ(PictureDescription("a2"), "Beta images");
}

TEST(Registration, RegistersEveryFormatInOrderAndCleansUp) {
    RegisterImageFormats();
    RegisterImageFormats();  // a second call changes nothing
    TFileFormatList* list = FileFormatList();
    ASSERT_NE(list, nullptr);

    // clang-format off
    const std::vector<std::string> expected = {
        "bmp", "ico", "wmf", "emf", "jfif", "jpg",  "jpe", "jpeg", "rle", "dib",
        "win", "vst", "vda", "tga", "icb",  "tiff", "tif", "fax",  "eps", "pcx",
        "pcc", "scr", "rpf", "rla", "sgi",  "rgba", "rgb", "bw",   "psd", "pdd",
        "ppm", "pgm", "pbm", "cel", "pic",  "pcd",  "cut", "psp",  "png", "gif",
        "webp", "qoi", "jp2", "j2k", "jpf", "jxl", "heic", "heif", "hif", "avif", "avifs",
        "svg", "svgz", "cur"};
    // clang-format on
    EXPECT_EQ(Extensions(*list), expected);
    EXPECT_EQ(list->ClassCount(), 25);

    // What the picture holder was told.
    EXPECT_EQ(PictureDescription("bmp"), "Windows bitmaps");
    EXPECT_EQ(PictureDescription("emf"), "Windows enhanced meta files");
    EXPECT_EQ(PictureDescription("jpg"), "JPG images");
    EXPECT_EQ(PictureDescription("dib"), "Device independant Windows bitmaps");
    EXPECT_EQ(PictureDescription("vst"), "Truevision images");
    EXPECT_EQ(PictureDescription("pcc"), "ZSoft Paintbrush images");
    EXPECT_EQ(PictureDescription("rla"), "Alias/Wavefront images");
    EXPECT_EQ(PictureDescription("bw"), "SGI black/white images");
    EXPECT_EQ(PictureDescription("pic"), "Autodesk images");
    EXPECT_EQ(PictureDescription("png"), "Portable network graphic images");
    EXPECT_EQ(PictureDescription("gif"), "CompuServe GIF images");
    EXPECT_EQ(PictureDescription("webp"), "WebP images");
    EXPECT_EQ(PictureDescription("cur"), "Windows cursors");
    EXPECT_EQ(TPicture::FindGraphicClass("cur"), TPicture::FindGraphicClass("ico"));
    EXPECT_STREQ(TPicture::FindGraphicClass("gif")->ClassName, "TGIFGraphic");
    EXPECT_STREQ(TPicture::FindGraphicClass("webp")->ClassName, "TWebPGraphic");
    EXPECT_EQ(PictureDescription("j2k"), "JPEG 2000 codestreams");
    EXPECT_STREQ(TPicture::FindGraphicClass("jpf")->ClassName, "TJPEG2000Graphic");
    EXPECT_STREQ(TPicture::FindGraphicClass("jxl")->ClassName, "TJPEGXLGraphic");
    EXPECT_EQ(PictureDescription("hif"), "HEIF images");
    EXPECT_STREQ(TPicture::FindGraphicClass("heic")->ClassName, "THEIFGraphic");
    EXPECT_EQ(PictureDescription("avifs"), "AVIF image sequences");
    EXPECT_STREQ(TPicture::FindGraphicClass("avif")->ClassName, "TAVIFGraphic");

    EXPECT_EQ(TPicture::FindGraphicClass("BMP"), &TBitmap::ClassInfo());
    EXPECT_STREQ(TPicture::FindGraphicClass("tga")->ClassName, "TTargaGraphic");
    EXPECT_STREQ(TPicture::FindGraphicClass("jpeg")->ClassName, "TJPEGImage");
    EXPECT_STREQ(TPicture::FindGraphicClass("cel")->ClassName, "TAutodeskGraphic");
    EXPECT_EQ(TPicture::FindGraphicClass("cel"), TPicture::FindGraphicClass("pic"));
    EXPECT_NE(TPicture::FindGraphicClass("cel"), TPicture::FindGraphicClass("pcd"));
    EXPECT_EQ(list->ExtensionRecord(list->FindExtension("tif")).Types, 12);
    EXPECT_EQ(list->ExtensionRecord(list->FindExtension("pdd")).Types, 10);
    EXPECT_EQ(list->ExtensionRecord(list->FindExtension("psp")).Types, 24);
    EXPECT_EQ(list->ExtensionRecord(list->FindExtension("emf")).Types, 16);

    UnregisterImageFormats();
    EXPECT_EQ(FileFormatList(), nullptr);
    for (const std::string& ext : expected)
        EXPECT_EQ(TPicture::FindGraphicClass(ext), nullptr) << ext;
    UnregisterImageFormats();  // without a registry: nothing to do
}

// A file whose name lies or says nothing is loaded by the class that recognises its content;
// a file that nothing recognises keeps the unknown-extension message.
TEST(Registration, ContentDecidesWhenTheNameLies) {
    if (!testhelp::HaveTool("convert")) GTEST_SKIP() << "ImageMagick is not installed";
    bool ok = false;
    const testhelp::Bytes png = testhelp::RunCommand("convert -size 5x3 xc:red png:-", ok);
    ASSERT_TRUE(ok);
    const testhelp::Bytes jpeg = testhelp::RunCommand("convert -size 4x2 xc:blue jpeg:-", ok);
    ASSERT_TRUE(ok);
    const testhelp::Bytes junk(64, 0x5A);
    struct Case {
        const char* name;
        const testhelp::Bytes& bytes;
        const char* className;  // null: refused with message
        const char* message;
    };
    const Case cases[] = {
        {"png-named.pbm", png, "TPNGGraphic", nullptr},
        {"jpeg-named.tga", jpeg, "TJPEGImage", nullptr},
        {"no-extension", png, "TPNGGraphic", nullptr},
        {"unknown.xyz", junk, nullptr, "Unknown picture file extension (.xyz)"},
    };
    RegisterImageFormats();
    const auto dir = std::filesystem::temp_directory_path();
    for (const Case& c : cases) {
        const auto file = dir / ("velkaro_sniff_" + std::string(c.name));
        std::ofstream(file, std::ios::binary)
            .write(reinterpret_cast<const char*>(c.bytes.data()), std::streamsize(c.bytes.size()));
        TPicture picture;
        try {
            picture.LoadFromFile(file.string());
            ASSERT_NE(c.className, nullptr) << c.name;
            EXPECT_STREQ(picture.Graphic()->ClassType().ClassName, c.className) << c.name;
            EXPECT_GT(picture.Width(), 0) << c.name;
        } catch (const EImagingError& e) {
            EXPECT_EQ(c.className, nullptr) << c.name << ": " << e.what();
            if (c.message != nullptr) {
                EXPECT_STREQ(e.what(), c.message) << c.name;
            }
        }
        std::filesystem::remove(file);
    }
    UnregisterImageFormats();
}
