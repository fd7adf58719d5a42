#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "imaging/Bitmap.h"
#include "imaging/Exceptions.h"
#include "imaging/Picture.h"

namespace {

// A tiny format of our own: "OK", width byte, height byte. Anything else is refused.
class TTinyGraphic : public TBitmap {
  public:
    static const TGraphicClass& ClassInfo() {
        static const TGraphicClass info{"TTinyGraphic",
                                        [] { return std::make_unique<TTinyGraphic>(); }, nullptr,
                                        &TBitmap::ClassInfo()};
        return info;
    }
    const TGraphicClass& ClassType() const override { return ClassInfo(); }

    void LoadFromStream(TStream& stream) override {
        uint8_t header[4] = {};
        if (stream.Read(header, 4) != 4 || header[0] != 'O' || header[1] != 'K')
            throw EInvalidGraphic("Not a tiny image.");
        Progress(psStarting, 0, false, TRect{}, "Preparing...");
        SetSize(header[2], header[3]);
        Progress(psEnding, 100, true, TRect{0, 0, header[2], header[3]}, "");
    }
};

class PictureTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("velkaro_picture_" +
                std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
        std::filesystem::create_directories(dir_);
        TPicture::RegisterFileFormat("tny", "Tiny images", &TTinyGraphic::ClassInfo());
    }
    void TearDown() override {
        TPicture::UnregisterGraphicClass(&TTinyGraphic::ClassInfo());
        std::filesystem::remove_all(dir_);
    }
    std::string Write(const std::string& name, const std::string& bytes) {
        const auto path = dir_ / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path.string();
    }

    std::filesystem::path dir_;
};

}  // namespace

TEST_F(PictureTest, LoadsByExtensionAndPassesNotificationsOn) {
    TPicture picture;
    int changes = 0;
    std::vector<std::string> progress;
    TGraphic* progressSender = nullptr;
    picture.OnChange = [&](TPicture* sender) {
        EXPECT_EQ(sender, &picture);
        ++changes;
    };
    picture.OnProgress = [&](TGraphic* sender, TProgressStage, uint8_t percent, bool, const TRect&,
                             const std::string& msg) {
        progressSender = sender;
        progress.push_back(std::to_string(percent) + ":" + msg);
    };

    picture.LoadFromFile(Write("One.TNY", std::string("OK\x03\x02", 4)));
    ASSERT_NE(picture.Graphic(), nullptr);
    EXPECT_EQ(&picture.Graphic()->ClassType(), &TTinyGraphic::ClassInfo());
    EXPECT_EQ(picture.Width(), 3);
    EXPECT_EQ(picture.Height(), 2);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(progress, (std::vector<std::string>{"0:Preparing...", "100:"}));
    EXPECT_EQ(progressSender, picture.Graphic());

    // Changes of the held graphic reach the picture's listener.
    static_cast<TBitmap*>(picture.Graphic())->SetTransparent(true);
    EXPECT_EQ(changes, 2);
}

TEST_F(PictureTest, FailedLoadKeepsThePreviousGraphic) {
    TPicture picture;
    picture.LoadFromFile(Write("good.tny", std::string("OK\x05\x04", 4)));
    TGraphic* previous = picture.Graphic();
    int changes = 0;
    picture.OnChange = [&](TPicture*) { ++changes; };

    EXPECT_THROW(picture.LoadFromFile(Write("bad.tny", "XX")), EInvalidGraphic);
    EXPECT_THROW(picture.LoadFromFile((dir_ / "missing.tny").string()), EFOpenError);
    try {
        picture.LoadFromFile(Write("file.xyz", "OK"));
        FAIL() << "no exception";
    } catch (const EInvalidGraphic& e) {
        EXPECT_STREQ(e.what(), "Unknown picture file extension (.xyz)");
    }
    try {
        picture.LoadFromFile(Write("noext", "OK"));
        FAIL() << "no exception";
    } catch (const EInvalidGraphic& e) {
        EXPECT_STREQ(e.what(), "Unknown picture file extension (.)");
    }
    EXPECT_EQ(picture.Graphic(), previous);
    EXPECT_EQ(picture.Width(), 5);
    EXPECT_EQ(changes, 0);
}

TEST_F(PictureTest, SetGraphicAndAssignHoldCopies) {
    TTinyGraphic source;
    source.SetSize(7, 3);
    TPicture picture;
    int changes = 0;
    picture.OnChange = [&](TPicture*) { ++changes; };
    picture.SetGraphic(&source);
    ASSERT_NE(picture.Graphic(), nullptr);
    EXPECT_NE(picture.Graphic(), &source);
    EXPECT_EQ(&picture.Graphic()->ClassType(), &TTinyGraphic::ClassInfo());
    EXPECT_EQ(picture.Width(), 7);
    EXPECT_EQ(changes, 1);

    TPicture other;
    other.Assign(picture);
    EXPECT_NE(other.Graphic(), picture.Graphic());
    EXPECT_EQ(other.Height(), 3);

    picture.SetGraphic(nullptr);
    EXPECT_EQ(picture.Graphic(), nullptr);
    EXPECT_EQ(picture.Width(), 0);
    EXPECT_EQ(changes, 2);
}

TEST_F(PictureTest, FormatTableListsAndRebinds) {
    static const TGraphicClass other{"TOther", nullptr, nullptr, nullptr};
    TPicture::RegisterFileFormat("oth", "Other images", &other);
    TPicture::RegisterFileFormat("TNY", "Tiny images again", &TTinyGraphic::ClassInfo());
    EXPECT_EQ(TPicture::FindGraphicClass("Tny"), &TTinyGraphic::ClassInfo());
    std::vector<std::string> listed;
    for (const TPictureFileFormat& f : TPicture::FileFormats())
        listed.push_back(f.Extension + "=" + f.Description);
    EXPECT_EQ(listed, (std::vector<std::string>{"tny=Tiny images again", "oth=Other images"}));
    EXPECT_EQ(TPicture::GraphicFileMask(), "*.tny;*.oth");
    EXPECT_EQ(TPicture::GraphicFileMask(&TBitmap::ClassInfo()), "*.tny");

    // A class that cannot create instances is reported like an unknown extension.
    TPicture picture;
    EXPECT_THROW(picture.LoadFromFile(Write("x.oth", "OK")), EInvalidGraphic);
    TPicture::UnregisterGraphicClass(&other);
    EXPECT_EQ(TPicture::FindGraphicClass("oth"), nullptr);
}

TEST(PictureExtension, TakesTheTextAfterTheLastDotOfTheName) {
    EXPECT_EQ(TPicture::ExtractExtension("/home/me/a.tar.PNG"), "PNG");
    EXPECT_EQ(TPicture::ExtractExtension("/home/me.d/readme"), "");
    EXPECT_EQ(TPicture::ExtractExtension("name."), "");
    EXPECT_EQ(TPicture::ExtractExtension(".hidden"), "hidden");
}
