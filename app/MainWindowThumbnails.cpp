// The list's Thumbnails view: the menu item and the thumbnail service that fills the view.
#include <QStyle>
#include <algorithm>

#include "app/MainWindow.h"
#include "imaging/FileFormatList.h"
#include "imaging/Registration.h"
#include "thumbs/ThumbnailService.h"

namespace {

// Whether the name's extension is one of a picture format the reader opens.
bool HasPictureExtension(const QByteArray& path) {
    const qsizetype slash = path.lastIndexOf('/');
    const qsizetype dot = path.lastIndexOf('.');
    if (dot <= slash + 1 || dot + 1 >= path.size()) return false;
    const TFileFormatList* formats = FileFormatList();
    return formats != nullptr && formats->FindExtension(path.mid(dot + 1).toStdString()) >= 0;
}

}  // namespace

void TMainWindow::CreateThumbnailsItem() {
    ThumbnailsMenu =
        FileMenu->Insert(static_cast<int>(FileMenu->Items().indexOf(DetailsMenu)) + 1,
                         QStringLiteral("ThumbnailsMenu"), QStringLiteral("Thumbnails"));
    Wire(ThumbnailsMenu, &TMenuItem::OnClick, &TMainWindow::ThumbnailsMenuClick);

    thumbnails_ = new TThumbnailService(this);
    connect(BrowseFiles, &TFileListView::ThumbnailSizeChanged, thumbnails_,
            &TThumbnailService::SetSize);
    connect(BrowseFiles, &TFileListView::ThumbnailsCleared, thumbnails_, &TThumbnailService::Clear);
    connect(BrowseFiles, &TFileListView::ThumbnailsWanted, this,
            [this](const QList<QByteArray>& visible, const QList<QByteArray>& around) {
                // Files of no picture format keep their type icon without being read.
                QList<QByteArray> wanted[2] = {visible, around};
                for (QList<QByteArray>& paths : wanted)
                    paths.removeIf([this](const QByteArray& path) {
                        if (HasPictureExtension(path)) return false;
                        BrowseFiles->SetThumbnail(path, QImage());
                        return true;
                    });
                thumbnails_->Request(wanted[0], wanted[1]);
            });
    connect(thumbnails_, &TThumbnailService::Ready, BrowseFiles, &TFileListView::SetThumbnail);
    BrowseFiles->ThumbnailLookup = [this](const QByteArray& path) {
        return thumbnails_->Cached(path);
    };
}

void TMainWindow::ThumbnailsMenuClick() {
    ThumbnailsMenu->SetChecked(!ThumbnailsMenu->Checked());
    if (ThumbnailsMenu->Checked()) {
        DetailsMenu->SetChecked(false);
        // The browser pane grows to two columns of cells where half the window allows.
        const int columns = 2 * BrowseFiles->ThumbnailCell().width() + PanelLeft->Width() -
                            BrowseFiles->width() + 2 * BrowseFiles->frameWidth() +
                            BrowseFiles->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
        PanelLeft->SetWidth(std::max(PanelLeft->Width(), std::min(columns, Width() / 2)));
    }
    ApplyDetails();
}
