// The Thumbnails style of the file list: the list view in icon mode on a grid of square cells,
// painted by TThumbnailDelegate. The list keeps the thumbnails of the rows shown and of about two
// screens around them; its owner makes them when asked (ThumbnailsWanted).
#include <QApplication>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <iterator>

#include "browse/FileListItemViews.h"
#include "browse/FileListModel.h"
#include "browse/FileListView.h"

// ---------------------------------------------------------------------------------------------
// TThumbnailDelegate

QSize TThumbnailDelegate::CellSize(int side, const QFontMetrics& metrics) {
    return {side + 2 * Padding, side + 3 * Padding + metrics.height()};
}

QSize TThumbnailDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
    return CellSize(owner_->ThumbnailSize(), option.fontMetrics);
}

void TThumbnailDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                               const QModelIndex& index) const {
    QStyleOptionViewItem item = option;
    initStyleOption(&item, index);
    const QWidget* widget = item.widget;
    QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
    const bool selected = item.state & QStyle::State_Selected;
    const QPalette::ColorGroup group =
        item.state & QStyle::State_Active ? QPalette::Active : QPalette::Inactive;
    const QColor highlight = item.palette.color(group, QPalette::Highlight);
    // A selected cell is tinted, and its name stands on the full highlight.
    if (selected) {
        QColor tint = highlight;
        tint.setAlpha(64);
        painter->fillRect(item.rect.adjusted(1, 1, -1, -1), tint);
    }

    const int side = owner_->ThumbnailSize();
    const QRect square(item.rect.x() + (item.rect.width() - side) / 2, item.rect.y() + Padding,
                       side, side);
    painter->save();
    // A cut entry is dimmed until it is pasted, as its icon is in the other styles.
    if (index.data(Qt::ForegroundRole).isValid()) painter->setOpacity(0.5);
    const QImage image = owner_->Thumbnail(index.row());
    if (!image.isNull()) {
        // The image carries the screen's pixel ratio: its logical size covers its pixels 1:1.
        const QSizeF size = image.deviceIndependentSize();
        const QRectF target(square.x() + (side - size.width()) / 2,
                            square.y() + (side - size.height()) / 2, size.width(), size.height());
        painter->drawImage(target, image);
    } else {
        const int iconSide = std::clamp(side / 4, 32, 96);
        const QRect target(square.x() + (side - iconSide) / 2, square.y() + (side - iconSide) / 2,
                           iconSide, iconSide);
        const QPixmap pixmap =
            item.icon.pixmap(target.size(), painter->device()->devicePixelRatio(),
                             item.state & QStyle::State_Selected ? QIcon::Selected : QIcon::Normal);
        painter->setRenderHint(QPainter::SmoothPixmapTransform);
        painter->drawPixmap(target, pixmap);
    }
    painter->restore();

    const QRect caption(item.rect.x() + Padding, square.bottom() + 1 + Padding,
                        item.rect.width() - 2 * Padding, item.fontMetrics.height());
    const QString text = item.fontMetrics.elidedText(item.text, Qt::ElideMiddle, caption.width());
    if (selected) {
        const int width =
            std::min(item.rect.width() - 2, item.fontMetrics.horizontalAdvance(text) + 2 * Padding);
        painter->fillRect(
            QRect(caption.center().x() - width / 2, caption.y() - 1, width, caption.height() + 2),
            highlight);
    }
    painter->save();
    painter->setFont(item.font);
    if (selected)
        painter->setPen(item.palette.color(group, QPalette::HighlightedText));
    else if (const QVariant brush = index.data(Qt::ForegroundRole); brush.isValid())
        painter->setPen(brush.value<QBrush>().color());
    else
        painter->setPen(item.palette.color(group, QPalette::Text));
    painter->drawText(caption, Qt::AlignHCenter | Qt::AlignVCenter, text);
    painter->restore();

    if (item.state & QStyle::State_HasFocus) {
        QStyleOptionFocusRect focus;
        focus.QStyleOption::operator=(item);
        focus.rect = item.rect.adjusted(1, 1, -1, -1);
        focus.state |= QStyle::State_KeyboardFocusChange;
        focus.backgroundColor = selected ? highlight : item.palette.color(group, QPalette::Base);
        style->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, widget);
    }
}

// ---------------------------------------------------------------------------------------------
// TFileListView: Thumbnails style

void TFileListView::SetUpThumbnails() {
    thumbnailDelegate_ = new TThumbnailDelegate(this, list_);
    thumbnailTimer_ = new QTimer(this);
    thumbnailTimer_->setSingleShot(true);
    thumbnailTimer_->setInterval(0);
    connect(thumbnailTimer_, &QTimer::timeout, this, &TFileListView::RequestThumbnails);
    // Whatever moves the rows shown: scrolling, a new layout (resize, size), new or re-sorted
    // rows, live changes.
    auto schedule = [this] { ScheduleThumbnails(); };
    connect(list_->verticalScrollBar(), &QScrollBar::valueChanged, this, schedule);
    connect(list_->verticalScrollBar(), &QScrollBar::rangeChanged, this, schedule);
    connect(model_.get(), &QAbstractItemModel::modelReset, this, schedule);
    connect(model_.get(), &QAbstractItemModel::layoutChanged, this, schedule);
    connect(model_.get(), &QAbstractItemModel::rowsInserted, this, schedule);
    connect(model_.get(), &QAbstractItemModel::rowsRemoved, this, schedule);
}

void TFileListView::ApplyThumbnailStyle() {
    if (viewStyle_ != vsThumbnails) {
        if (list_->itemDelegate() != thumbnailDelegate_) return;
        list_->setItemDelegate(list_->delegate);
        list_->setGridSize(QSize());
        list_->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
        DropThumbnails();
        return;
    }
    const int side = thumbnailSize_;
    list_->setIconSize(QSize(side, side));
    list_->setGridSize(ThumbnailCell());
    list_->setItemDelegate(thumbnailDelegate_);
    list_->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    list_->verticalScrollBar()->setSingleStep(std::max(1, list_->gridSize().height() / 4));
    ScheduleThumbnails();
}

void TFileListView::SetThumbnailSize(int value) {
    // The nearest of the sizes offered.
    int nearest = ThumbnailSizes[0];
    for (int size : ThumbnailSizes)
        if (std::abs(size - value) < std::abs(nearest - value)) nearest = size;
    if (!ChangeValue(thumbnailSize_, nearest)) return;
    // The row in focus stays in sight as the cells change size.
    const QModelIndex current = selection_->currentIndex();
    ApplyThumbnailStyle();
    if (viewStyle_ == vsThumbnails && current.isValid()) list_->scrollTo(current);
}

void TFileListView::StepThumbnailSize(int steps) {
    const int count = static_cast<int>(std::size(ThumbnailSizes));
    const int at = static_cast<int>(
        std::find(std::begin(ThumbnailSizes), std::end(ThumbnailSizes), thumbnailSize_) -
        std::begin(ThumbnailSizes));
    SetThumbnailSize(ThumbnailSizes[std::clamp(at + steps, 0, count - 1)]);
}

int TFileListView::ThumbnailSizeKey(int key, Qt::KeyboardModifiers modifiers) const {
    if (viewStyle_ != vsThumbnails) return 0;
    // Shift may be needed to reach "+"; the keypad's keys count as well.
    const Qt::KeyboardModifiers mods =
        modifiers & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    if (mods != Qt::ControlModifier && mods != (Qt::ControlModifier | Qt::ShiftModifier)) return 0;
    if (key == Qt::Key_Plus || key == Qt::Key_Equal) return 1;
    if (key == Qt::Key_Minus && mods == Qt::ControlModifier) return -1;
    return 0;
}

int TFileListView::ThumbnailPixels() const {
    return static_cast<int>(std::lround(thumbnailSize_ * list_->devicePixelRatioF()));
}

QSize TFileListView::ThumbnailCell() const {
    return TThumbnailDelegate::CellSize(thumbnailSize_, list_->fontMetrics());
}

bool TFileListView::IsThumbnailRow(int row) const {
    if (row < 0 || row >= ItemCount()) return false;
    const TListRow& r = model_->rows[row];
    return r.kind == rkFile && !r.parent;
}

const QImage* TFileListView::HeldThumbnail(const QByteArray& path) const {
    auto held = thumbnails_.constFind(path);
    if (held != thumbnails_.constEnd()) return &*held;
    if (!ThumbnailLookup || thumbnailPixels_ <= 0 || !thumbnailWindow_.contains(path))
        return nullptr;
    QImage found = ThumbnailLookup(path);
    if (found.isNull()) return nullptr;
    found.setDevicePixelRatio(list_->devicePixelRatioF());
    return &*thumbnails_.insert(path, found);
}

QImage TFileListView::Thumbnail(int row) const {
    if (viewStyle_ != vsThumbnails || !IsThumbnailRow(row)) return {};
    const QImage* image = HeldThumbnail(ItemNativePath(row));
    return image != nullptr ? *image : QImage();
}

void TFileListView::SetThumbnail(const QByteArray& path, const QImage& image) {
    // Only rows shown or near them keep one; a thumbnail made for another size is stale.
    if (viewStyle_ != vsThumbnails || !thumbnailWindow_.contains(path)) return;
    QImage held = image;
    if (!held.isNull()) {
        if (std::max(held.width(), held.height()) > thumbnailPixels_) return;
        held.setDevicePixelRatio(list_->devicePixelRatioF());
    }
    thumbnails_.insert(path, held);
    if (thumbnailShown_.contains(path)) list_->viewport()->update();
}

void TFileListView::DropThumbnails() {
    thumbnails_.clear();
    thumbnailWindow_.clear();
    thumbnailShown_.clear();
    lastWanted_[0].clear();
    lastWanted_[1].clear();
    emit ThumbnailsCleared();
}

void TFileListView::ScheduleThumbnails() {
    if (viewStyle_ == vsThumbnails && !filling_) thumbnailTimer_->start();
}

std::pair<int, int> TFileListView::ShownRows() const {
    const int count = ItemCount();
    const int height = View()->viewport()->height();
    auto rect = [&](int row) { return View()->visualRect(model_->index(row, 0)); };
    // Rows lie in reading order: the first shown is the first whose cell reaches the top.
    int first = 0;
    for (int end = count; first < end;) {
        const int middle = (first + end) / 2;
        if (rect(middle).bottom() < 0)
            first = middle + 1;
        else
            end = middle;
    }
    int last = first;
    while (last < count && rect(last).top() < height)
        ++last;
    return {first, last};
}

void TFileListView::RequestThumbnails() {
    if (viewStyle_ != vsThumbnails || !list_->isVisible()) return;
    const int pixels = ThumbnailPixels();
    if (pixels != thumbnailPixels_) {
        thumbnails_.clear();
        lastWanted_[0].clear();
        lastWanted_[1].clear();
        thumbnailPixels_ = pixels;
        emit ThumbnailSizeChanged(pixels);
    }
    const auto [first, last] = ShownRows();
    QSet<QByteArray> window, shown;
    QList<QByteArray> wanted[2];
    auto consider = [&](int row, int which) {
        if (!IsThumbnailRow(row)) return;
        const QByteArray path = ItemNativePath(row);
        window.insert(path);
        if (which == 0) shown.insert(path);
        if (!thumbnails_.contains(path)) wanted[which] << path;
    };
    for (int row = first; row < last; ++row)
        consider(row, 0);
    // About two screens on either side, nearest first, the rows after before the rows before.
    const int reach = 2 * std::max(last - first, 1);
    for (int step = 1; step <= reach; ++step) {
        consider(last - 1 + step, 1);
        consider(first - step, 1);
    }
    // Thumbnails far from the rows shown are let go (their owner may keep them in memory).
    for (auto it = thumbnails_.begin(); it != thumbnails_.end();)
        it = window.contains(it.key()) ? std::next(it) : thumbnails_.erase(it);
    thumbnailWindow_ = window;
    thumbnailShown_ = shown;
    // Ones already in memory need no asking.
    for (QList<QByteArray>& list : wanted)
        list.removeIf([this](const QByteArray& path) { return HeldThumbnail(path) != nullptr; });
    if (wanted[0] == lastWanted_[0] && wanted[1] == lastWanted_[1]) return;
    lastWanted_[0] = wanted[0];
    lastWanted_[1] = wanted[1];
    emit ThumbnailsWanted(wanted[0], wanted[1]);
}

QRect TFileListView::ThumbnailCaptionRect(const QRect& cell) const {
    const int pad = TThumbnailDelegate::Padding;
    return {cell.x(), cell.y() + 2 * pad + thumbnailSize_, cell.width(),
            list_->fontMetrics().height() + pad};
}
