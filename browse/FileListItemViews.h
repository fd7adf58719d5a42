#pragma once
// The two item views of the file list: the report view (columns with a header) and the list
// view for the list and icon styles. Both show the list's one model and selection and hand keys,
// clicks and double-clicks to the list; only the presentation differs.
#include <QHeaderView>
#include <QKeyEvent>
#include <QListView>
#include <QMouseEvent>
#include <QStyledItemDelegate>
#include <QTreeView>
#include <QWheelEvent>

#include "browse/FileListView.h"

// Both views hand keys, clicks and double-clicks to the list; only the presentation differs.
template <class Base>
class TFileListViewT : public Base {
  public:
    explicit TFileListViewT(TFileListView* owner) : Base(owner), owner_(owner) {
        this->setEditTriggers(QAbstractItemView::NoEditTriggers);
        this->setSelectionBehavior(QAbstractItemView::SelectRows);
        this->setFrameShape(QFrame::NoFrame);
    }

  protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (owner_->HandleKeyDown(event)) return;
        const QPersistentModelIndex before = this->currentIndex();
        Base::keyPressEvent(event);
        if (QModelIndex(before) != this->currentIndex()) owner_->NoteKeyMove();
    }
    void keyReleaseEvent(QKeyEvent* event) override {
        Base::keyReleaseEvent(event);
        owner_->HandleKeyUp(event);
    }
    void mousePressEvent(QMouseEvent* event) override {
        afterDoubleClick_ = false;
        Base::mousePressEvent(event);
    }
    void mouseReleaseEvent(QMouseEvent* event) override {
        Base::mouseReleaseEvent(event);
        // The release that ends a double-click is not another click.
        if (event->button() == Qt::LeftButton && !afterDoubleClick_) owner_->Click();
        afterDoubleClick_ = false;
    }
    void mouseDoubleClickEvent(QMouseEvent* event) override {
        Base::mouseDoubleClickEvent(event);
        if (event->button() != Qt::LeftButton) return;
        afterDoubleClick_ = true;
        owner_->HandleDblClick();
    }

    TFileListView* owner_;
    bool afterDoubleClick_ = false;
};

// List and icon styles: every item as wide as the Name column, so that the list lays out by
// arithmetic instead of measuring thousands of captions.
class TUniformItemDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    int itemWidth = 0;

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        if (itemWidth > 0) size.setWidth(itemWidth);
        return size;
    }
};

// Thumbnails style: the row's thumbnail (or its type icon) centred in a square of the list's
// ThumbnailSize, the name under it, shortened in the middle to fit.
class TThumbnailDelegate : public QStyledItemDelegate {
  public:
    TThumbnailDelegate(TFileListView* owner, QObject* parent)
        : QStyledItemDelegate(parent), owner_(owner) {}
    // The cell of every row (the grid of the view).
    static QSize CellSize(int side, const QFontMetrics& metrics);
    static constexpr int Padding = 4;

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

  private:
    TFileListView* owner_;
};

class TFileListTreeView : public TFileListViewT<QTreeView> {
  public:
    explicit TFileListTreeView(TFileListView* owner) : TFileListViewT<QTreeView>(owner) {
        setRootIsDecorated(false);
        setItemsExpandable(false);
        setUniformRowHeights(true);
        setAllColumnsShowFocus(true);
        setSortingEnabled(false);
        header()->setStretchLastSection(false);
        header()->setMinimumSectionSize(0);
        header()->setSectionsClickable(true);
        header()->setSectionsMovable(false);
    }
};

class TFileListListView : public TFileListViewT<QListView> {
  public:
    explicit TFileListListView(TFileListView* owner) : TFileListViewT<QListView>(owner) {
        delegate = new TUniformItemDelegate(this);
        setItemDelegate(delegate);
        setUniformItemSizes(true);
        setResizeMode(QListView::Adjust);
        setMovement(QListView::Static);
    }
    TUniformItemDelegate* delegate;

  protected:
    // In the Thumbnails style, Ctrl+Plus and Ctrl+Minus size the thumbnails rather than doing
    // what the window gives those keys, and Ctrl+wheel does the same.
    bool event(QEvent* event) override {
        if (event->type() == QEvent::ShortcutOverride) {
            const auto* key = static_cast<QKeyEvent*>(event);
            if (owner_->ThumbnailSizeKey(key->key(), key->modifiers()) != 0) {
                event->accept();
                return true;
            }
        }
        return TFileListViewT<QListView>::event(event);
    }
    void wheelEvent(QWheelEvent* event) override {
        if (!(event->modifiers() & Qt::ControlModifier) ||
            owner_->ViewStyle() != TFileListView::vsThumbnails) {
            TFileListViewT<QListView>::wheelEvent(event);
            return;
        }
        wheelTurn_ += event->angleDelta().y();
        const int steps = wheelTurn_ / QWheelEvent::DefaultDeltasPerStep;
        wheelTurn_ -= steps * QWheelEvent::DefaultDeltasPerStep;
        if (steps != 0) owner_->StepThumbnailSize(steps);
        event->accept();
    }

  private:
    int wheelTurn_ = 0;  // wheel turn not yet a whole step
};
