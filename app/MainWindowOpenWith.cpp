// The main window's "Open With" items.
#include <QFile>
#include <QMenu>

#include "app/MainWindow.h"
#include "browse/OpenWithMenu.h"

namespace {

// The file of the list's highlighted row; empty for a folder, a drive or no row.
QString HighlightedFile(const TFileListView& list) {
    for (int row = 0; row < list.ItemCount(); ++row)
        if (list.ItemSelected(row))
            return list.ItemSubItem(row, 5) == QLatin1String(TFileListView::KindFile)
                       ? list.ItemSubItem(row, 4)
                       : QString();
    return {};
}

}  // namespace

void TMainWindow::CreateOpenWithItems() {
    FileOpenWith = FileMenu->Insert(static_cast<int>(FileMenu->Items().indexOf(FileOpen)) + 1,
                                    QStringLiteral("FileOpenWith"), QStringLiteral("Open With"));
    FileOpenWith->setMenu(
        CreateOpenWithMenu(this, [this] { return HighlightedFile(*BrowseFiles); }));
    ImageOpenWith =
        ImageMenu->Insert(static_cast<int>(ImageMenu->Items().indexOf(PictureProperties)),
                          QStringLiteral("ImageOpenWith"), QStringLiteral("Open With"));
    ImageOpenWith->setMenu(
        CreateOpenWithMenu(this, [this] { return QFile::decodeName(presenter_->ShownPath()); }));
    // Offered for a file only.
    connect(FileMenu, &QMenu::aboutToShow, this,
            [this] { FileOpenWith->SetEnabled(!HighlightedFile(*BrowseFiles).isEmpty()); });
    connect(ImageMenu, &QMenu::aboutToShow, this,
            [this] { ImageOpenWith->SetEnabled(!presenter_->ShownPath().isEmpty()); });
}
