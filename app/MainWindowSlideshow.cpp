// The main window's slideshow items.
#include <QActionGroup>
#include <QKeySequence>
#include <QMenu>

#include "app/MainWindow.h"

void TMainWindow::CreateSlideshowItems() {
    Slideshow = new TSlideshow(QStringLiteral("Slideshow"), this);
    const int at = static_cast<int>(ImageMenu->Items().indexOf(FullScreen)) + 1;
    SlideshowItem =
        ImageMenu->Insert(at, QStringLiteral("SlideshowItem"), QStringLiteral("Slideshow"));
    // F5 in the picture pane: the list keeps its own F5, which reads the folder again.
    SlideshowItem->setShortcut(QKeySequence(Qt::Key_F5));
    SlideshowItem->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    PanelImage->addAction(SlideshowItem);
    Wire(SlideshowItem, &TMenuItem::OnClick, &TMainWindow::SlideshowClick);

    SlideshowInterval = ImageMenu->Insert(at + 1, QStringLiteral("SlideshowInterval"),
                                          QStringLiteral("Slideshow Interval"));
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("SlideshowIntervalSubmenu"));
    auto* group = new QActionGroup(menu);
    for (int seconds : {2, 3, 5, 10}) {
        QAction* action = menu->addAction(QStringLiteral("%1 s").arg(seconds));
        action->setCheckable(true);
        action->setData(seconds);
        group->addAction(action);
        connect(action, &QAction::triggered, this,
                [this, seconds] { Slideshow->SetInterval(seconds); });
    }
    // The check follows the stored interval, which may be one the submenu does not list.
    connect(menu, &QMenu::aboutToShow, this, [this, menu, group] {
        for (QAction* action : menu->actions())
            action->setChecked(action->data().toInt() == Slideshow->Interval());
        if (group->checkedAction() == nullptr)
            for (QAction* action : menu->actions())
                action->setChecked(false);
    });
    SlideshowInterval->setMenu(menu);
}

void TMainWindow::SlideshowClick() {
    if (!BrowseImageFiles->Checked() || Slideshow->Running()) return;
    QList<QByteArray> pictures;
    int first = 0;
    const QByteArray shown = presenter_->ShownPath();
    for (int row = 0; row < BrowseFiles->ItemCount(); ++row) {
        if (BrowseFiles->ItemSubItem(row, 5) != QLatin1String(TFileListView::KindFile)) continue;
        const QByteArray path = BrowseFiles->ItemNativePath(row);
        if (path == shown) first = static_cast<int>(pictures.size());
        pictures << path;
    }
    Slideshow->Start(pictures, first);
}
