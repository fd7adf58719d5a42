// Save Rotation and Save As: the shown turn written into the file, or the shown picture written
// as another file, through the imaging library's convert step (the one velkaro-convert runs).
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QRegularExpression>

#include "app/MainWindow.h"
#include "imaging/Picture.h"
#include "imaging/writers/ConvertPicture.h"
#include "imaging/writers/PictureWriter.h"

namespace {

// A lossy format (re-encoding loses quality) by the file's extension.
bool LossyFile(const QString& path) {
    const TSaveFormatInfo* info = SaveFormatForFile(QFile::encodeName(path).toStdString());
    return info != nullptr && info->lossy;
}

}  // namespace

int TMainWindow::ShownTurn() const {
    // Clockwise quarter turns first, then the mirror (as the view shows them).
    static constexpr int kTurns[4] = {1, 6, 3, 8};
    const TViewTransform& view = ViewImage->View();
    const int turn = ViewImage->ZoomMode() ? kTurns[view.quarterTurns & 3] : 1;
    return ViewImage->ZoomMode() && view.flipped ? ComposeOrientation(turn, 2) : turn;
}

void TMainWindow::ShowSavedPicture(const QByteArray& path) {
    // The file now holds the turn: the view shows it unturned.
    if (ViewImage->ZoomMode()) {
        const TViewTransform& view = ViewImage->View();
        if (view.flipped) ViewImage->FlipView();
        if (view.quarterTurns != 0) ViewImage->TurnView(-view.quarterTurns);
    }
    presenter_->DropCache();
    presenter_->Show(path);
}

void TMainWindow::SaveRotationClick() {
    const QByteArray path = presenter_->ShownPath();
    if (path.isEmpty() || !BrowseImageFiles->Checked()) return;
    const std::string file = path.toStdString();
    TConvertOptions options;
    options.turn = ShownTurn();
    options.shown = &shownStamp_;
    if (options.turn == 1) return;
    const QString name = QFileInfo(QFile::decodeName(path)).fileName();
    if (FileStamp(file) != shownStamp_)
        throw ESafeWrite(QStringLiteral("Cannot save \"%1\": the file was changed by another "
                                        "program since it was shown. Nothing was written.")
                             .arg(name)
                             .toStdString());
    if (SaveFormatForFile(file) == nullptr)
        throw EImagingError(QStringLiteral("The turn cannot be written into \"%1\": its format "
                                           "is not one we write. Use Save As instead.")
                                .arg(name)
                                .toStdString());
    if (!IsJpegFile(file) && LossyFile(QFile::decodeName(path))) {
        if (MessageDlg(QStringLiteral("Saving the turn compresses \"%1\" again, which loses some "
                                      "quality. Save it anyway?")
                           .arg(name),
                       mtConfirmation, {mbYes, mbNo}, this, mbNo) != mrYes)
            return;
        options.quality = 90;
    }
    try {
        ConvertPicture(file, file, options);
    } catch (const EJpegPartialBlocks& e) {
        const TModalResult choice =
            MessageDlg(QString::fromStdString(e.what()) +
                           QStringLiteral("\n\nYes trims the edges, No stores the turn as the EXIF "
                                          "orientation, Cancel leaves the file as it is."),
                       mtConfirmation, {mbYes, mbNo, mbCancel}, this, mbCancel);
        if (choice == mrYes)
            options.partial = TPartialBlocks::Trim;
        else if (choice == mrNo)
            options.orientationOnly = true;
        else
            return;
        ConvertPicture(file, file, options);
    }
    shownStamp_ = FileStamp(file);
    ShowSavedPicture(path);
}

void TMainWindow::SaveAsClick() {
    const QByteArray path = presenter_->ShownPath();
    if (path.isEmpty() || !BrowseImageFiles->Checked()) return;
    QStringList filters;
    for (const TSaveFormatInfo& f : SaveFormats())
        filters << QStringLiteral("%1 (*.%2)")
                       .arg(QString::fromLatin1(f.name),
                            QString::fromLatin1(f.extensions).replace(u' ', QStringLiteral(" *.")));
    const QFileInfo source(QFile::decodeName(path));
    QString filter = filters.first();
    QString target = SaveAsFileHook ? SaveAsFileHook()
                                    : QFileDialog::getSaveFileName(
                                          this, QStringLiteral("Save As"),
                                          source.absolutePath() + u'/' + source.completeBaseName(),
                                          filters.join(QStringLiteral(";;")), &filter,
                                          QFileDialog::DontConfirmOverwrite);
    if (target.isEmpty()) return;
    // No extension typed: the chosen format's first.
    if (SaveFormatForFile(QFile::encodeName(target).toStdString()) == nullptr &&
        QFileInfo(target).suffix().isEmpty()) {
        const int star = filter.indexOf(QStringLiteral("*."));
        target += filter.mid(
            star + 1, filter.indexOf(QRegularExpression(QStringLiteral("[ )]")), star) - star - 1);
    }
    const std::string out = QFile::encodeName(target).toStdString();
    if (QFileInfo::exists(target) &&
        MessageDlg(
            QStringLiteral("\"%1\" exists already. Replace it?").arg(QFileInfo(target).fileName()),
            mtConfirmation, {mbYes, mbNo}, this, mbNo) != mrYes)
        return;
    TConvertOptions options;
    options.turn = ShownTurn();
    if (LossyFile(target)) {
        bool ok = true;
        const QString label = SaveFormatForFile(out)->lossless
                                  ? QStringLiteral("Quality (1-100; 100 saves without loss):")
                                  : QStringLiteral("Quality (1-100):");
        const int quality =
            SaveAsQualityHook
                ? SaveAsQualityHook()
                : QInputDialog::getInt(this, QStringLiteral("Save As"), label, 90, 1, 100, 1, &ok);
        if (!ok) return;
        options.quality = quality;
        options.lossless = quality == 100 && SaveFormatForFile(out)->lossless;
    }
    const std::string in = path.toStdString();
    // The shown file itself, saved under its own name: as Save Rotation would.
    if (QFileInfo(target) == source) options.shown = &shownStamp_;
    ConvertPicture(in, out, options);
    if (QFileInfo(target) == source) {
        shownStamp_ = FileStamp(in);
        ShowSavedPicture(path);
    }
}
