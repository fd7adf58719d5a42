// Save Rotation and Save As in the window: the shown turn written into the file (losslessly for
// JPEG), another file written as shown, and every question that can lose data answered No by
// default.
#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include "app/MainWindow.h"
#include "common/ImagingTestHelpers.h"
#include "common/PictureWindowFixture.h"
#include "imaging/Picture.h"
#include "imaging/writers/JpegTransform.h"
#include "toolkit/Dialogs.h"

namespace {

struct TCase {
    const char* name;
    int width, height;    // the shown JPEG's size (61 x 45 is not on whole blocks)
    int turns;            // Rotate Right clicks before saving
    const char* saveAs;   // the name Save As is given (no extension: the first format's), or null
    TModalResult answer;  // to every question
    bool changed;         // another program rewrites the file after it was shown
    const char* error;    // part of the error box's text, or null
    int width2, height2;  // the written file's size; 0: the file is left as it was
};

const TCase kCases[] = {
    {"saved_turn_is_lossless", 64, 48, 1, nullptr, mrNo, false, nullptr, 48, 64},
    {"changed_file_is_left_alone", 64, 48, 1, nullptr, mrNo, true, "changed by another", 0, 0},
    {"partial_blocks_cancelled", 61, 45, 1, nullptr, mrCancel, false, nullptr, 0, 0},
    {"partial_blocks_trimmed", 61, 45, 1, nullptr, mrYes, false, nullptr, 32, 61},
    {"save_as_png_turned_half", 64, 48, 2, "copy", mrNo, false, nullptr, 64, 48},
    {"save_as_over_another_file_asks", 64, 48, 1, "other.png", mrNo, false, nullptr, 0, 0},
};

class PictureSaveTest : public testhelp::TPictureWindowFixture,
                        public testing::WithParamInterface<TCase> {
  protected:
    void TearDown() override {
        SetMessageDlgHook(nullptr);
        TMainWindow::SaveAsFileHook = nullptr;
        TPictureWindowFixture::TearDown();
    }
};

TEST_P(PictureSaveTest, WritesTheShownTurnOrLeavesTheFile) {
    const TCase& c = GetParam();
    TMainWindow& f = *form_;
    f.BrowseImageFiles->Click();
    const QString path = Jpeg("shown.jpg", c.width, c.height);
    const QString other = QDir(dir_.path()).filePath("other.png");
    QFile(other).open(QIODevice::WriteOnly);
    f.OpenPath(path);
    Wait([&] { return f.CopyImage->Enabled() && !f.PictureLoading(); });
    for (int i = 0; i < c.turns; ++i)
        f.RotateRight->Click();
    if (c.changed) testhelp::WriteFileBytes(path.toStdString(), testhelp::Bytes(100, 'x'));
    int questions = 0;
    SetMessageDlgHook([&](const QString&, TMsgDlgType, TMsgDlgButtons) {
        ++questions;
        return c.answer;
    });
    const QString target = c.saveAs ? QDir(dir_.path()).filePath(c.saveAs) : path;
    const QString written = c.saveAs && !QString(c.saveAs).contains('.') ? target + ".png" : target;
    const testhelp::Bytes before = testhelp::ReadFileBytes(written.toStdString());
    TMainWindow::SaveAsFileHook = [&] { return target; };
    (c.saveAs ? f.SaveAs : f.SaveRotation)->Click();

    if (c.error != nullptr) {
        ASSERT_EQ(errors_.size(), 1);
        EXPECT_TRUE(errors_[0].contains(c.error)) << errors_[0].toStdString();
    } else {
        EXPECT_TRUE(errors_.isEmpty()) << errors_.join('\n').toStdString();
    }
    const testhelp::Bytes after = testhelp::ReadFileBytes(written.toStdString());
    if (c.width2 == 0) {
        EXPECT_EQ(after, before);
        return;
    }
    const std::unique_ptr<TGraphic> saved = TPicture::LoadGraphic(written.toStdString());
    EXPECT_EQ(saved->Width(), c.width2);
    EXPECT_EQ(saved->Height(), c.height2);
    if (c.saveAs == nullptr && c.answer == mrNo) {
        EXPECT_EQ(after, TransformJpeg(before, 6));
        EXPECT_EQ(questions, 0);
        // The view shows the saved file unturned.
        Wait([&] { return !f.PictureLoading(); });
        EXPECT_EQ(f.ViewImage->View().quarterTurns, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, PictureSaveTest, testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
