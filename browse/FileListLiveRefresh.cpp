// The live list: the folder shown is watched, and a change is shown by a refill that keeps the
// selected and focused rows, the scroll position and the order (see TFileListView::RebuildList).
#include <QAbstractItemView>
#include <QDir>
#include <QFileSystemWatcher>
#include <QHash>
#include <QItemSelectionModel>
#include <QScrollBar>
#include <QTimer>
#include <algorithm>
#include <vector>

#include "browse/FileListModel.h"
#include "browse/FileListView.h"

void TFileListView::WatchDirectory() {
    const QString wanted = IsDrivesDirectory(directory_) ? QString() : QDir::cleanPath(directory_);
    if (wanted == WatchedFolder()) return;
    if (watcher_ == nullptr) {
        watcher_ = new QFileSystemWatcher(this);
        connect(watcher_, &QFileSystemWatcher::directoryChanged, this,
                &TFileListView::DirectoryChanged);
        liveTimer_ = new QTimer(this);
        liveTimer_->setSingleShot(true);
        connect(liveTimer_, &QTimer::timeout, this, &TFileListView::LiveRefresh);
    }
    liveTimer_->stop();
    if (!watcher_->directories().isEmpty()) watcher_->removePaths(watcher_->directories());
    if (!wanted.isEmpty()) watcher_->addPath(wanted);
}

QString TFileListView::WatchedFolder() const {
    return watcher_ == nullptr || watcher_->directories().isEmpty()
               ? QString()
               : watcher_->directories().first();
}

void TFileListView::DirectoryChanged() {
    if (liveTimer_->isActive()) return;  // already due
    // Shown soon, but a folder that keeps changing (a copy of thousands of files) is re-read
    // only once per interval.
    const qint64 since = lastLive_.isValid() ? lastLive_.elapsed() : LiveRefreshIntervalMs;
    liveTimer_->start(
        static_cast<int>(std::max<qint64>(LiveRefreshDelayMs, LiveRefreshIntervalMs - since)));
}

void TFileListView::LiveRefresh() {
    // A caption being edited keeps its row until the edit ends.
    if (EditingCaption() || filling_) {
        liveTimer_->start(LiveRefreshIntervalMs);
        return;
    }
    lastLive_.start();
    if (IsDrivesDirectory(directory_) || directory_ != filledDirectory_) return;
    Refill(true);
    // The entry the window shows may be gone.
    ForgetDeletedItem();
}

TFileListView::TKeptView TFileListView::KeepView() const {
    TKeptView kept;
    for (int row : SelectedRows())
        kept.selected.append(RowKey(row));
    const QModelIndex current = selection_->currentIndex();
    if (current.isValid() && current.row() < ItemCount()) kept.current = RowKey(current.row());
    const QAbstractItemView* view = View();
    kept.horizontal = view->horizontalScrollBar()->value();
    kept.vertical = view->verticalScrollBar()->value();
    kept.valid = true;
    return kept;
}

QString TFileListView::RowKey(int row) const {
    const TListRow& r = model_->rows[row];
    // The parent row shares no path with another row, but mark it all the same.
    return r.parent ? QStringLiteral("\x01") + r.path : r.path;
}

void TFileListView::RestoreView(const TKeptView& kept) {
    if (!kept.valid || ItemCount() == 0) return;
    QHash<QString, int> rowOf;
    rowOf.reserve(ItemCount());
    for (int row = 0; row < ItemCount(); ++row)
        rowOf.insert(RowKey(row), row);
    std::vector<int> rows;
    for (const QString& key : kept.selected) {
        const auto it = rowOf.constFind(key);
        if (it == rowOf.constEnd()) continue;
        rows.push_back(it.value());
        if (!multiSelect_) break;
    }
    // One range per run of rows, so that a large selection stays cheap to apply.
    std::sort(rows.begin(), rows.end());
    QItemSelection selected;
    for (size_t i = 0; i < rows.size();) {
        size_t j = i;
        while (j + 1 < rows.size() && rows[j + 1] == rows[j] + 1)
            ++j;
        selected.select(model_->index(rows[i], 0),
                        model_->index(rows[j], TFileListModel::ColumnCount - 1));
        i = j + 1;
    }
    if (!selected.isEmpty()) selection_->select(selected, QItemSelectionModel::ClearAndSelect);
    const auto current = rowOf.constFind(kept.current);
    if (current != rowOf.constEnd())
        selection_->setCurrentIndex(model_->index(current.value(), 0),
                                    QItemSelectionModel::NoUpdate);
    // The views lay out their items late; lay them out now so the scroll range is known.
    QAbstractItemView* view = View();
    view->doItemsLayout();
    view->horizontalScrollBar()->setValue(kept.horizontal);
    view->verticalScrollBar()->setValue(kept.vertical);
}
