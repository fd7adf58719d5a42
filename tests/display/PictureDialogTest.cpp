// The picture dialog: the window sized to the picture, framed or not, its caption by language
// and Caption, the sound, modal and non-modal lifetimes.
#include <QApplication>
#include <QPointer>
#include <QTimer>

#include <gtest/gtest.h>

#include "display/PictureDialog.h"
#include "display/PictureView.h"
#include "imaging/Bitmap.h"

namespace {

// A 30 x 20 picture.
void FillPicture(TPicture& picture, int w = 30, int h = 20) {
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->SetPixelFormat(pf24bit);
    bitmap->SetSize(w, h);
    picture.AdoptGraphic(std::move(bitmap));
}

struct Seen {
    QString title;
    QSize client;
    bool modal = false;
    bool framed = false;
    TPictureDialogWindow* form = nullptr;
};

// Shows the dialog modally; while it is open, records the window and closes it.
Seen ShowModal(TPictureDialog& dialog) {
    Seen seen;
    QTimer::singleShot(0, [&] {
        auto* form = qobject_cast<TPictureDialogWindow*>(QApplication::activeModalWidget());
        if (form == nullptr) form = dialog.Form();
        if (form == nullptr) return;
        seen.form = form;
        seen.title = form->windowTitle();
        seen.client = form->size();
        seen.modal = form->isModal();
        seen.framed = form->Panel->BevelCtl3D();
        form->close();
    });
    dialog.ShowPicture();
    return seen;
}

}  // namespace

TEST(PictureDialog, Defaults) {
    TPictureDialog dialog(QStringLiteral("AboutImage"));
    EXPECT_EQ(dialog.Language(), dlEnglish);
    EXPECT_EQ(dialog.SoundType(), stNoSound);
    EXPECT_EQ(dialog.HelpContext(), 0);
    EXPECT_EQ(dialog.BorderStyle(), bsNone);
    EXPECT_TRUE(dialog.Caption().isEmpty());
    EXPECT_TRUE(dialog.Modal());
    EXPECT_EQ(dialog.Form(), nullptr);
}

TEST(PictureDialog, CaptionTableByLanguage) {
    EXPECT_EQ(DialogCaptionId(dlEnglish), 30516);
    EXPECT_EQ(DialogCaptionId(dlRussian), 30546);
    EXPECT_EQ(DialogCaptionId(dlKorean), 30966);
    EXPECT_EQ(DialogString(30516), QStringLiteral("Image View"));
    EXPECT_EQ(DialogString(DialogCaptionId(dlGerman)), QStringLiteral("Bildansicht"));
    for (int l = dlEnglish; l <= dlKorean; ++l)
        EXPECT_FALSE(DialogString(DialogCaptionId(TDialogLanguage(l))).isEmpty()) << l;
    EXPECT_TRUE(DialogString(30517).isEmpty());
    EXPECT_TRUE(DialogString(30546 + 30 * 15).isEmpty());
}

TEST(PictureDialog, ModalWindowSizesToThePictureAndIsFreedEachTime) {
    struct Case {
        TBorderStyle border;
        QString caption;
        TDialogLanguage language;
        QSize client;
        QString title;
    };
    const Case cases[] = {
        {bsNone, QString(), dlEnglish, {30, 20}, QStringLiteral("Image View")},
        {bsSingle, QStringLiteral("About ..."), dlEnglish, {34, 24}, QStringLiteral("About ...")},
        {bsSingle, QString(), dlGerman, {34, 24}, QStringLiteral("Bildansicht")},
        {bsNone, QStringLiteral("Titel"), dlGerman, {30, 20}, QStringLiteral("Titel")},
    };
    for (const Case& c : cases) {
        TPictureDialog dialog;
        FillPicture(*dialog.Picture());
        dialog.SetBorderStyle(c.border);
        dialog.SetCaption(c.caption);
        dialog.SetLanguage(c.language);
        for (int round = 0; round < 2; ++round) {
            const Seen seen = ShowModal(dialog);
            ASSERT_NE(seen.form, nullptr);
            EXPECT_TRUE(seen.modal);
            EXPECT_EQ(seen.client, c.client) << c.title.toStdString();
            EXPECT_EQ(seen.title, c.title);
            EXPECT_EQ(seen.framed, c.border == bsSingle);
            // Freed after the modal showing; the next showing builds a new window.
            EXPECT_EQ(dialog.Form(), nullptr);
        }
    }
}

TEST(PictureDialog, NonModalWindowFreesItselfAndIsFocusedWhenShownAgain) {
    TPictureDialog dialog;
    FillPicture(*dialog.Picture(), 10, 12);
    dialog.SetModal(false);
    dialog.ShowPicture();
    QPointer<TPictureDialogWindow> form = dialog.Form();
    ASSERT_NE(form, nullptr);
    EXPECT_TRUE(form->isVisible());
    EXPECT_FALSE(form->isModal());
    EXPECT_EQ(form->size(), QSize(10, 12));
    dialog.ShowPicture();  // already open: no second window
    EXPECT_EQ(dialog.Form(), form.data());
    form->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(form.isNull());
    EXPECT_EQ(dialog.Form(), nullptr);
}

TEST(PictureDialog, SoundFollowsSoundType) {
    std::vector<TSoundType> heard;
    TDialogBase::SoundHook = [&](TSoundType t) { heard.push_back(t); };
    TPictureDialog dialog;
    FillPicture(*dialog.Picture());
    ShowModal(dialog);  // stNoSound
    dialog.SetSoundType(stExclamation);
    ShowModal(dialog);
    TDialogBase::SoundHook = nullptr;
    EXPECT_EQ(heard, std::vector<TSoundType>{stExclamation});
}

TEST(PictureDialog, AssigningAPictureCopiesIt) {
    TPicture source;
    FillPicture(source, 7, 9);
    TPictureDialog dialog;
    dialog.SetPicture(&source);
    source.SetGraphic(nullptr);
    EXPECT_EQ(dialog.Picture()->Width(), 7);
    EXPECT_EQ(dialog.Picture()->Height(), 9);
}
