#include <QApplication>
#include <QCursor>
#include <stdexcept>

#include <gtest/gtest.h>

#include "toolkit/Application.h"
#include "toolkit/Dialogs.h"

TEST(ErrorBox, AppendsFullStopOnlyAfterCharactersSortingAfterDot) {
    EXPECT_EQ(Application::ErrorBoxText("Cannot open file"), "Cannot open file.");
    EXPECT_EQ(Application::ErrorBoxText("Stream read error."), "Stream read error.");
    EXPECT_EQ(Application::ErrorBoxText("Not found!"), "Not found!");
    EXPECT_EQ(Application::ErrorBoxText("Bad value (x)"), "Bad value (x)");
    EXPECT_EQ(Application::ErrorBoxText("Error -"), "Error -");
    EXPECT_EQ(Application::ErrorBoxText("Code 7"), "Code 7.");
    EXPECT_EQ(Application::ErrorBoxText("Path /tmp/"), "Path /tmp/.");  // '/' sorts after '.'
    EXPECT_EQ(Application::ErrorBoxText(QString::fromUtf8("Café")), QString::fromUtf8("Café."));
    EXPECT_EQ(Application::ErrorBoxText(""), "");
}

TEST(ErrorBox, HandleEventShowsTheExceptionAndReportsFailure) {
    QStringList shown;
    Application::SetErrorBoxHook([&](const QString& text) { shown << text; });
    EXPECT_TRUE(Application::HandleEvent([] {}));
    EXPECT_FALSE(Application::HandleEvent([] { throw std::runtime_error("Disk gone"); }));
    Application::SetErrorBoxHook(nullptr);
    ASSERT_EQ(shown.size(), 1);
    EXPECT_EQ(shown[0], "Disk gone.");
}

TEST(ErrorBox, TitleIsTheApplicationTitle) {
    Application::SetTitle("Velkaro");
    EXPECT_EQ(Application::Title(), "Velkaro");
}

TEST(Hourglass, SetsWaitCursorAndRestores) {
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    {
        THourglass outer;
        ASSERT_NE(QApplication::overrideCursor(), nullptr);
        EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
        { THourglass inner; }
        ASSERT_NE(QApplication::overrideCursor(), nullptr);
    }
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST(Dialogs, HooksAnswerInPlaceOfModalDialogs) {
    TFontDialog fontDialog("FontText");
    TFontDialog::ExecuteHook = [](TFontDialog& d) {
        TFont f = d.Font();
        f.SetSize(12);
        d.SetFont(f);
        return true;
    };
    EXPECT_TRUE(fontDialog.Execute());
    EXPECT_EQ(fontDialog.Font().Height(), -16);
    TFontDialog::ExecuteHook = nullptr;

    TColorDialog colorDialog("ImageBk");
    TColorDialog::ExecuteHook = [](TColorDialog&) { return false; };
    colorDialog.SetColor(clBtnFace);
    EXPECT_FALSE(colorDialog.Execute());
    EXPECT_EQ(colorDialog.Color(), clBtnFace);
    TColorDialog::ExecuteHook = nullptr;

    SetMessageDlgHook([](const QString& msg, TMsgDlgType type, TMsgDlgButtons buttons) {
        return (msg == "Delete?" && type == mtConfirmation && buttons == (mbYes | mbNo)) ? mrYes
                                                                                         : mrNo;
    });
    EXPECT_EQ(MessageDlg("Delete?", mtConfirmation, mbYes | mbNo), mrYes);
    SetMessageDlgHook(nullptr);
}
