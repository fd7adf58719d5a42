// The main window's help for browsing pictures: what the text-mode list says over a folder of
// pictures, the start mode for a folder, and the thumbnails shown while pictures are passed.
#include <QFile>

#include "app/MainWindow.h"
#include "browse/DirectoryReader.h"
#include "settings/IniFile.h"
#include "thumbs/ThumbnailCache.h"

namespace {

// The files of the folder the list shows under the mask (folders and the parent row aside).
int CountFiles(const QString& folder, const QString& mask, bool sniffText) {
    TFolderListing listing;
    listing.folder = folder.endsWith(u'/') ? folder : folder + u'/';
    listing.filter = TFileListView::ftReadOnly | TFileListView::ftHidden | TFileListView::ftSystem |
                     TFileListView::ftArchive;  // the list's own filter
    listing.mask = mask;
    listing.showFolders = false;
    listing.parentDirEnabled = false;
    listing.sniffText = sniffText;
    std::vector<TListRow> rows;
    ReadFolderRows(listing, rows);
    return static_cast<int>(rows.size());
}

}  // namespace

int TMainWindow::CountPictures(const QString& folder) {
    return CountFiles(folder, ImageFilesMask(), false);
}

int TMainWindow::CountTextFiles(const QString& folder) {
    return CountFiles(folder, QString::fromLatin1(TextMask), true);
}

QString TMainWindow::PicturesHereText(int count, const QString& command) {
    return (count == 1 ? QStringLiteral("1 picture here: %2")
                       : QStringLiteral("%1 pictures here: %2").arg(count))
        .arg(command);
}

bool TMainWindow::ModeStored() const {
    const TIniFile ini(Storage->EffectiveIniFileName());
    return ini.ValueExists(Storage->EffectiveIniSection(),
                           QStringLiteral("BrowseTextFiles_Checked"));
}

void TMainWindow::CreatePictureHelpers() {
    // In text mode, a folder without text files but with pictures says so under its rows; the
    // line switches to image mode.
    BrowseFiles->EmptyFolderOffer = [this](const QString& folder) {
        if (!BrowseTextFiles->Checked()) return QString();
        const int pictures = CountPictures(folder);
        return pictures > 0 ? PicturesHereText(pictures, BrowseImageFiles->Caption()) : QString();
    };
    Wire(BrowseFiles, &TFileListView::OnOfferClick, &TMainWindow::SwitchToImageMode);
    // Pictures passed quickly show the desktop's stored thumbnail at once.
    presenter_->ThumbnailLookup = [](const QByteArray& path) {
        static const TThumbnailCache cache;
        for (const int size : {256, 128}) {
            QImage image = cache.Read(path, size);
            if (!image.isNull()) return image;
        }
        return QImage();
    };
}
