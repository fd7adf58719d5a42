// The file list's filter box (typed text narrows the rows to the names holding it) and the line
// it offers under the rows of a folder without files.
#include <QAbstractItemView>
#include <QCoreApplication>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "browse/FileListModel.h"
#include "browse/FileListView.h"

namespace {

bool Matches(const TListRow& row, const QString& text) {
    return row.parent || row.caption.contains(text, Qt::CaseInsensitive);
}

// The box hands the keys that move in the list to the list, and closes on Esc.
class TFilterBox : public QLineEdit {
  public:
    TFilterBox(QWidget* parent, std::function<QWidget*()> list, std::function<void()> close)
        : QLineEdit(parent), list_(std::move(list)), close_(std::move(close)) {}

  protected:
    void keyPressEvent(QKeyEvent* event) override {
        switch (event->key()) {
            case Qt::Key_Escape:
                close_();
                return;
            case Qt::Key_Up:
            case Qt::Key_Down:
            case Qt::Key_PageUp:
            case Qt::Key_PageDown:
            case Qt::Key_Return:
            case Qt::Key_Enter: {
                QWidget* list = list_();
                list->setFocus();
                QKeyEvent copy(event->type(), event->key(), event->modifiers(), event->text());
                QCoreApplication::sendEvent(list, &copy);
                return;
            }
            default:
                QLineEdit::keyPressEvent(event);
        }
    }

  private:
    std::function<QWidget*()> list_;
    std::function<void()> close_;
};

// The offer under the rows: a flat button that Enter also presses, and Up leaves for the list.
class TOfferButton : public QPushButton {
  public:
    TOfferButton(QWidget* parent, std::function<QWidget*()> list)
        : QPushButton(parent), list_(std::move(list)) {}

  protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
            click();
        else if (event->key() == Qt::Key_Up)
            list_()->setFocus();
        else
            QPushButton::keyPressEvent(event);
    }

  private:
    std::function<QWidget*()> list_;
};

}  // namespace

bool TFileListModel::Narrow(const QString& text) {
    // Back first: the rows the new text lets in again.
    std::vector<TListRow> back;
    for (auto it = filteredOut.begin(); it != filteredOut.end();) {
        if (Matches(*it, text)) {
            back.push_back(std::move(*it));
            it = filteredOut.erase(it);
        } else {
            ++it;
        }
    }
    if (!back.empty()) {
        const int first = rowCount();
        beginInsertRows(QModelIndex(), first, first + int(back.size()) - 1);
        for (TListRow& row : back)
            rows.push_back(std::move(row));
        endInsertRows();
    }
    // Then out: each run of rows that no longer match, from the end.
    for (int end = rowCount(); end > 0;) {
        if (Matches(rows[end - 1], text)) {
            --end;
            continue;
        }
        int begin = end - 1;
        while (begin > 0 && !Matches(rows[begin - 1], text))
            --begin;
        beginRemoveRows(QModelIndex(), begin, end - 1);
        std::move(rows.begin() + begin, rows.begin() + end, std::back_inserter(filteredOut));
        rows.erase(rows.begin() + begin, rows.begin() + end);
        endRemoveRows();
        end = begin;
    }
    return !back.empty();
}

void TFileListView::CreateFilterBox(QVBoxLayout* column) {
    auto view = [this]() -> QWidget* { return View(); };
    filterBox_ = new TFilterBox(this, view, [this] {
        CloseFilter();
        View()->setFocus();
    });
    filterBox_->setObjectName(QStringLiteral("FilterBox"));
    filterBox_->setClearButtonEnabled(true);
    filterBox_->setPlaceholderText(QStringLiteral("Filter"));
    filterBox_->hide();
    column->addWidget(filterBox_);
    connect(filterBox_, &QLineEdit::textChanged, this, [this] { ApplyFilter(true); });

    offerButton_ = new TOfferButton(this, view);
    offerButton_->setObjectName(QStringLiteral("ListOffer"));
    offerButton_->setFlat(true);
    offerButton_->setCursor(Qt::PointingHandCursor);
    offerButton_->setStyleSheet(QStringLiteral("text-align: left; text-decoration: underline;"));
    offerButton_->hide();
    connect(offerButton_, &QPushButton::clicked, this, [this] {
        const bool focused = offerButton_->hasFocus();
        emit OnOfferClick(this);
        // The line went with what it offered: the keys go back to the rows.
        if (focused && offerButton_->isHidden()) View()->setFocus();
    });
}

QString TFileListView::FilterText() const {
    return filterBox_->text();
}

void TFileListView::SetFilterText(const QString& text) {
    if (!text.isEmpty()) filterBox_->show();
    filterBox_->setText(text);  // narrows through textChanged
}

void TFileListView::OpenFilter() {
    filterBox_->show();
    filterBox_->setFocus();
    filterBox_->selectAll();
}

void TFileListView::CloseFilter() {
    const bool hadFocus = filterBox_->hasFocus();
    filterBox_->clear();
    filterBox_->hide();
    if (hadFocus) View()->setFocus();
    const QModelIndex current = selection_->currentIndex();
    if (current.isValid()) View()->scrollTo(current);
}

bool TFileListView::FilterOpen() const {
    return filterBox_->isVisibleTo(this);
}

bool TFileListView::HandleFilterKey(QKeyEvent* event, Qt::KeyboardModifiers mods) {
    const int key = event->key();
    const bool open = FilterOpen();
    if (mods == Qt::ControlModifier && key == Qt::Key_F) {
        OpenFilter();
        return true;
    }
    if (mods == Qt::NoModifier && key == Qt::Key_Down && offerButton_->isVisible() &&
        selection_->currentIndex().row() == ItemCount() - 1) {
        offerButton_->setFocus();
        return true;
    }
    if (!open) {
        // A name typed: the box opens with it (a space alone starts nothing).
        const QString text = event->text();
        if ((mods & ~Qt::ShiftModifier) != Qt::NoModifier || text.isEmpty() ||
            !text.at(0).isPrint() || text.at(0).isSpace())
            return false;
        SetFilterText(text);
        return true;
    }
    if (mods == Qt::NoModifier && key == Qt::Key_Escape) {
        CloseFilter();
        return true;
    }
    if (mods == Qt::NoModifier && key == Qt::Key_Backspace) {
        QString text = FilterText();
        text.chop(1);
        if (text.isEmpty())
            CloseFilter();
        else
            SetFilterText(text);
        return true;
    }
    const QString text = event->text();
    if ((mods & ~Qt::ShiftModifier) != Qt::NoModifier || text.isEmpty() || !text.at(0).isPrint())
        return false;
    SetFilterText(FilterText() + text);
    return true;
}

void TFileListView::ApplyFilter(bool selectFirst) {
    if (filtering_) return;
    filtering_ = true;
    const QString text = FilterText();
    if (model_->Narrow(text)) {
        if (sortingEnabled_) {
            SortRows();
        } else {
            // The drive list keeps the order it was read in: read again.
            filtering_ = false;
            Refill(true);
            filtering_ = true;
        }
    }
    filtering_ = false;
    PlaceListMessage();
    PlaceOffer();
    if (!selectFirst || text.isEmpty()) {
        if (selection_->currentIndex().isValid()) View()->scrollTo(selection_->currentIndex());
        return;
    }
    // The first name that starts with the text, else the first that holds it.
    int first = -1;
    for (int row = 0; row < ItemCount() && first < 0; ++row)
        if (!RowIsParent(row) && model_->rows[row].caption.startsWith(text, Qt::CaseInsensitive))
            first = row;
    for (int row = 0; row < ItemCount() && first < 0; ++row)
        if (!RowIsParent(row)) first = row;
    if (first < 0) return;
    // Already selected and reported: nothing to do. The selection alone does not tell, since the
    // view moves it onto a neighbour when the selected row is narrowed away.
    const QList<int> selected = SelectedRows();
    if (selected == QList<int>{first} && selection_->currentIndex().row() == first &&
        model_->rows[first].path == selectedItem_ && model_->rows[first].native == selectedNative_)
        return;
    const QModelIndex index = model_->index(first, 0);
    selection_->setCurrentIndex(index,
                                QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    View()->scrollTo(index);
    Click();
}

void TFileListView::AfterFill(bool sameFolder) {
    if (!sameFolder && FilterOpen()) {
        if (filterBox_->hasFocus()) View()->setFocus();
        const QSignalBlocker block(filterBox_);
        filterBox_->clear();
        filterBox_->hide();
    }
    bool files = false;
    for (const TListRow& row : model_->rows)
        files = files || row.kind == rkFile;
    if (!filtering_ && !FilterText().isEmpty()) model_->Narrow(FilterText());
    const QString offer = files || !EmptyFolderOffer ? QString() : EmptyFolderOffer(directory_);
    offerButton_->setText(offer);
    offerButton_->setVisible(!offer.isEmpty());
    PlaceOffer();
}

QString TFileListView::Offer() const {
    return offerButton_->isVisibleTo(this) ? offerButton_->text() : QString();
}

void TFileListView::PlaceOffer() {
    if (offerButton_ == nullptr || offerButton_->isHidden()) return;
    // Under the last row, across the list.
    View()->doItemsLayout();
    const QRect area = contentsRect();
    const int top =
        View()->viewport()->mapTo(this, QPoint(0, 0)).y() +
        (ItemCount() > 0 ? View()->visualRect(model_->index(ItemCount() - 1, 0)).bottom() + 1 : 0);
    const QSize hint = offerButton_->sizeHint();
    offerButton_->setGeometry(area.left() + 4, top + 4,
                              std::min(hint.width(), std::max(0, area.width() - 8)), hint.height());
    offerButton_->raise();
}
