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
};
