#include "browse/FileListView.h"

#include <sys/stat.h>

#include <QApplication>
#include <QClipboard>
#include <QCollator>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QHeaderView>
#include <QIcon>
#include <QImage>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QScrollBar>
#include <QSettings>
#include <QStackedLayout>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cstring>
#include <iterator>
#include <optional>
#include <vector>

#include "browse/DirectoryReader.h"
#include "browse/FileClipboard.h"
#include "browse/FileListItemViews.h"
#include "browse/FileListModel.h"
#include "browse/FolderComboLink.h"
#include "browse/MessageCatalogue.h"
#include "browse/OpenWithMenu.h"
#include "browse/ShellHelpers.h"
#include "toolkit/Application.h"

namespace {

constexpr int kColumnCount = TFileListModel::ColumnCount;
static_assert(TFileListView::MaxSniffed == MaxSniffedFiles);
constexpr int kDriveColumnWidths[kColumnCount] = {160, 110, 90, 90, 40};

QIcon MakeParentIcon() {
    QStyle* style = QApplication::style();
    if (style != nullptr) {
        const QIcon icon = style->standardIcon(QStyle::SP_FileDialogToParent);
        if (!icon.isNull()) return icon;
    }
    // A plain up arrow when the style has none.
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(0xE0, 0xB0, 0x40));
    painter.setPen(Qt::black);
    const QPointF arrow[] = {{16, 4}, {28, 16}, {21, 16}, {21, 28}, {11, 28}, {11, 16}, {4, 16}};
    painter.drawPolygon(arrow, 7);
    return QIcon(pixmap);
}

QImage IconImage(const QIcon& icon) {
    return icon.pixmap(QSize(32, 32)).toImage().convertToFormat(QImage::Format_ARGB32);
}

bool SameImage(const QImage& a, const QImage& b) {
    if (a.size() != b.size()) return false;
    for (int y = 0; y < a.height(); ++y)
        if (memcmp(a.constScanLine(y), b.constScanLine(y), static_cast<size_t>(a.width()) * 4))
            return false;
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TFileListView

TFileListView::TFileListView(QWidget* parent)
    : TControl<QFrame>(parent), model_(std::make_unique<TFileListModel>()) {
    setFrameShape(QFrame::StyledPanel);
    // The views, and the filter box under them.
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    stack_ = new QStackedLayout;
    stack_->setContentsMargins(0, 0, 0, 0);
    column->addLayout(stack_);

    tree_ = new TFileListTreeView(this);
    list_ = new TFileListListView(this);
    tree_->setModel(model_.get());
    selection_ = tree_->selectionModel();
    list_->setModel(model_.get());
    QItemSelectionModel* own = list_->selectionModel();
    list_->setSelectionModel(selection_);
    delete own;
    stack_->addWidget(tree_);
    stack_->addWidget(list_);
    // Why a folder shows no entries; clicks go through it to the parent row.
    messageLabel_ = new QLabel(this);
    messageLabel_->setObjectName(QStringLiteral("ListMessage"));
    messageLabel_->setAlignment(Qt::AlignCenter);
    messageLabel_->setWordWrap(true);
    messageLabel_->setAttribute(Qt::WA_TransparentForMouseEvents);
    messageLabel_->setForegroundRole(QPalette::PlaceholderText);
    messageLabel_->hide();
    CreateFilterBox(column);

    connect(tree_->header(), &QHeaderView::sectionClicked, this, &TFileListView::ColumnClick);
    // Cut entries are dimmed while the clipboard holds them as cut.
    if (QClipboard* clipboard = QApplication::clipboard())
        connect(clipboard, &QClipboard::dataChanged, this, &TFileListView::UpdateCutMarks);
    // The header flips its indicator on clicks by itself; keep showing the list's own order.
    connect(tree_->header(), &QHeaderView::sortIndicatorChanged, this,
            [this] { UpdateSortIndicator(); });

    LoadMessages(mwFileList, language_);
    UpdateDatePattern();
    UpdateTimePattern();
    EnsureParentIcon();
    SetMultiSelect(true);
    InstallColumns(false);
    SetViewStyle(vsReport);
    SetTabStop(true);
    UpdateSortIndicator();
    RebuildPopUp();
    HookOwnerForDrops();
    SetUpThumbnails();
    constructed_ = true;
}

TFileListView::~TFileListView() {
    delete dropHook_;
    dropHook_ = nullptr;
    if (dirTreeCombo_ != nullptr) {
        TFolderComboLink* combo = dirTreeCombo_;
        dirTreeCombo_ = nullptr;
        disconnect(comboDestroyed_);
        combo->SetFileList(nullptr);
    }
    // The views go before the model they show; the tree owns the shared selection.
    delete list_;
    delete tree_;
}

// --- Properties ------------------------------------------------------------------------------

void TFileListView::SetDateFormat(TDtFormat value) {
    if (ChangeValue(dateFormat_, value)) UpdateDatePattern();
}

void TFileListView::SetTimeFormat(TTmFormat value) {
    if (ChangeValue(timeFormat_, value)) UpdateTimePattern();
}

void TFileListView::UpdateDatePattern() {
    // The fixed patterns by TDtFormat; df_Customize follows the locale's short date.
    static const char* const kPatterns[] = {"MM/dd/yyyy", "MM/dd/yy", "dd/MM/yyyy", "dd/MM/yy",
                                            "dd.MM.yy",   "dd-MM-yy", "yyyy-MM-dd", "yy-MM-dd"};
    if (unsigned(dateFormat_) < std::size(kPatterns))
        datePattern_ = QString::fromLatin1(kPatterns[dateFormat_]);
    else
        datePattern_ = ModifiedTextPattern(QLocale().dateFormat(QLocale::ShortFormat), false);
}

void TFileListView::UpdateTimePattern() {
    switch (timeFormat_) {
        case tfLongFormat:
            timePattern_ = ModifiedTextPattern(QLocale().timeFormat(QLocale::LongFormat), false);
            break;
        case tfCustomize: {
            // The locale's time pattern cut before its 12-hour marker, then a 12-hour clock.
            QString pattern = ModifiedTextPattern(QLocale().timeFormat(QLocale::LongFormat), true);
            const qsizetype t = pattern.indexOf(u't');
            if (t >= 0) pattern.truncate(t);
            timePattern_ = pattern + QStringLiteral(" AM/PM");
            break;
        }
        case tfShortFormat:
        default:
            timePattern_ = ModifiedTextPattern(QLocale().timeFormat(QLocale::ShortFormat), false);
            break;
    }
}

bool TFileListView::IsDrivesDirectory(const QString& path) const {
    return path.compare(QLatin1String(DrivesDirectory), Qt::CaseInsensitive) == 0;
}

void TFileListView::SetDirectory(const QString& value) {
    // Folder names are case-sensitive here, so only "Drives" is compared ignoring case.
    if (value == directory_) return;
    if (IsDrivesDirectory(value)) {
        if (IsDrivesDirectory(directory_)) return;
        directory_ = value;
        RebuildList();
        return;
    }
    if (value.isEmpty()) return;
    const QFileInfo info(value);
    if (!info.isDir()) return;
    // Rows keep full paths. The process's working folder stays where the program started: paths
    // named relative to it (the command line's) must not change their meaning as the list moves.
    const QString folder = AddSlash(QDir::cleanPath(info.absoluteFilePath()));
    directory_ = folder;
    RebuildList();
}

qint64 TFileListView::DriveFreeSpace() const {
    if (IsDrivesDirectory(directory_)) return 0;
    return DriveFreeKB(directory_);
}

void TFileListView::SetFileType(TFileType value) {
    if (ChangeValue(fileType_, value)) RebuildList();
}

void TFileListView::SetMask(const QString& value) {
    if (ChangeValue(mask_, value)) RebuildList();
}

void TFileListView::SetShowFolders(bool value) {
    if (ChangeValue(showFolders_, value)) RebuildList();
}

void TFileListView::SetLanguage(TLanguage value) {
    if (!ApplyComponentLanguage(mwFileList, language_, value)) return;
    popUpMenuEnabled_ = true;
    RebuildPopUp();
    // The captions follow the language at once; the installed column set stays.
    if (driveColumns_)
        InstallColumns(true);
    else
        InstallColumns(false);
}

void TFileListView::SetParentDirCaption(const QString& value) {
    const QString fresh = value.trimmed();
    if (fresh.compare(parentDirCaption_.trimmed(), Qt::CaseInsensitive) == 0) return;
    parentDirCaption_ = u' ' + fresh;
}

void TFileListView::SetPopUpMenuEnabled(bool value) {
    if (!ChangeValue(popUpMenuEnabled_, value)) return;
    if (!value) {
        QWidget* grabber = QWidget::mouseGrabber();
        if (grabber == tree_ || grabber == list_ || grabber == this) grabber->releaseMouse();
    }
}

int TFileListView::SelectedNumber() const {
    const int selected = static_cast<int>(SelectedRows().size());
    return selected > 0 ? selected : ItemCount();
}

qint64 TFileListView::SelectedSize() const {
    qint64 sum = 0;
    for (int row : SelectedRows()) {
        const TListRow& r = model_->rows[row];
        if (r.kind == rkFile) sum += r.size;
    }
    return sum;
}

void TFileListView::SetMultiSelect(bool value) {
    if (value == multiSelect_ && constructed_) return;
    multiSelect_ = value;
    const auto mode =
        value ? QAbstractItemView::ExtendedSelection : QAbstractItemView::SingleSelection;
    tree_->setSelectionMode(mode);
    list_->setSelectionMode(mode);
}

void TFileListView::SetHotTrack(bool value) {
    if (value == hotTrack_ && constructed_) return;
    hotTrack_ = value;
    tree_->setMouseTracking(value);
    list_->setMouseTracking(value);
}

void TFileListView::SetViewStyle(TViewStyle value) {
    if (value == viewStyle_ && constructed_) return;
    viewStyle_ = value;
    const bool hadFocus = View()->hasFocus() || hasFocus();
    if (value == vsReport) {
        stack_->setCurrentWidget(tree_);
    } else {
        if (value == vsIcon || value == vsThumbnails) {
            list_->setViewMode(QListView::IconMode);
            list_->setIconSize(QSize(32, 32));
            // Rows in reading order, whatever the list style set before.
            list_->setFlow(QListView::LeftToRight);
            list_->setWrapping(true);
        } else {
            list_->setViewMode(QListView::ListMode);
            list_->setIconSize(QSize(16, 16));
            list_->setFlow(value == vsList ? QListView::TopToBottom : QListView::LeftToRight);
            list_->setWrapping(true);
        }
        list_->setMovement(QListView::Static);
        list_->setResizeMode(QListView::Adjust);
        stack_->setCurrentWidget(list_);
    }
    ApplyThumbnailStyle();
    UpdateListGrid();
    setFocusProxy(View());
    if (hadFocus) View()->setFocus();
}

void TFileListView::SetShowColumnHeaders(bool value) {
    if (value == showColumnHeaders_ && constructed_) return;
    showColumnHeaders_ = value;
    tree_->header()->setVisible(value);
}

void TFileListView::SetTabStop(bool value) {
    if (value == tabStop_ && constructed_) return;
    tabStop_ = value;
    const Qt::FocusPolicy policy = value ? Qt::StrongFocus : Qt::ClickFocus;
    setFocusPolicy(policy);
    tree_->setFocusPolicy(policy);
    list_->setFocusPolicy(policy);
}

void TFileListView::SetDirTreeCombo(TFolderComboLink* combo) {
    if (combo == dirTreeCombo_) return;
    if (dirTreeCombo_ != nullptr) {
        TFolderComboLink* old = dirTreeCombo_;
        dirTreeCombo_ = nullptr;
        disconnect(comboDestroyed_);
        old->SetFileList(nullptr);
    }
    dirTreeCombo_ = combo;
    if (combo == nullptr) return;
    if (QObject* object = combo->LinkObject())
        comboDestroyed_ = connect(object, &QObject::destroyed, this, [this] {
            dirTreeCombo_ = nullptr;
            disconnect(comboDestroyed_);
        });
    combo->SetFileList(this);
}

// --- Columns ---------------------------------------------------------------------------------

void TFileListView::showEvent(QShowEvent* event) {
    // The window exists from the first show on: the owner has set its properties by then, so
    // the folder columns take the configured widths now.
    if (!windowCreated_) {
        windowCreated_ = true;
        if (!driveColumns_) InstallColumns(false);
    }
    TControl<QFrame>::showEvent(event);
    ScheduleThumbnails();
}

void TFileListView::resizeEvent(QResizeEvent* event) {
    TControl<QFrame>::resizeEvent(event);
    PlaceListMessage();
    ScheduleThumbnails();
    PlaceOffer();
}

void TFileListView::PlaceListMessage() {
    messageLabel_->setText(listMessage_);
    messageLabel_->setVisible(!listMessage_.isEmpty());
    if (listMessage_.isEmpty()) return;
    // Below the first row (the parent row), across the list.
    View()->doItemsLayout();
    const QRect area = contentsRect();
    const int top = View()->viewport()->mapTo(this, QPoint(0, 0)).y() +
                    (ItemCount() > 0 ? View()->visualRect(model_->index(0, 0)).bottom() + 1 : 0);
    messageLabel_->setGeometry(area.left() + 4, top + 4, std::max(0, area.width() - 8),
                               messageLabel_->heightForWidth(std::max(1, area.width() - 8)));
    messageLabel_->raise();
}

void TFileListView::InstallColumns(bool drives) {
    // Caption rows and alignments of the columns of a folder and of the drive list.
    static constexpr int kRows[2][kColumnCount] = {
        {crName, crSize, crType, crModified, crAttr},
        {crName, crType, crDiskSize, crFreeSpace, crAttr}};
    static constexpr Qt::Alignment kLeft = Qt::AlignLeft, kRight = Qt::AlignRight;
    static constexpr Qt::Alignment kAlignments[2][kColumnCount] = {
        {kLeft, kRight, kLeft, kLeft, kLeft}, {kLeft, kLeft, kRight, kRight, kLeft}};
    QString captions[kColumnCount];
    for (int i = 0; i < kColumnCount; ++i)
        captions[i] = CatalogueText(language_, kRows[drives][i]);
    model_->SetColumns(captions, kAlignments[drives]);
    driveColumns_ = drives;
    columnsInstalled_ = true;
    ApplyColumnWidths();
}

void TFileListView::ApplyColumnWidths() {
    QHeaderView* header = tree_->header();
    for (int i = 0; i < kColumnCount; ++i)
        header->resizeSection(i, std::max(0, driveColumns_ ? kDriveColumnWidths[i] : colWidth_[i]));
    UpdateListGrid();
}

void TFileListView::UpdateListGrid() {
    // In list style the Name column's width is the width of every column of captions.
    const int width = tree_->header()->sectionSize(0);
    list_->delegate->itemWidth = viewStyle_ == vsList ? width : 0;
    if (!filling_) emit list_->delegate->sizeHintChanged(QModelIndex());
}

void TFileListView::ResetColumnWidths() {
    if (!driveColumns_) ApplyColumnWidths();
}

int TFileListView::ColumnCount() const {
    return kColumnCount;
}

QString TFileListView::ColumnCaption(int column) const {
    return column >= 0 && column < kColumnCount ? model_->captions[column] : QString();
}

int TFileListView::ColumnWidth(int column) const {
    return column >= 0 && column < kColumnCount ? tree_->header()->sectionSize(column) : 0;
}

// --- Filling ---------------------------------------------------------------------------------

void TFileListView::RebuildList() {
    Refill(false);
}

void TFileListView::Refill(bool keepOrder) {
    // A live refresh runs unasked, and must not flash the hourglass.
    std::optional<THourglass> hourglass;
    if (!keepOrder) hourglass.emplace();
    // Column widths the user dragged survive the refill.
    QHeaderView* header = tree_->header();
    int widths[kColumnCount];
    for (int i = 0; i < kColumnCount; ++i)
        widths[i] = header->sectionSize(i);
    const bool wasDrives = driveColumns_;
    // A refill of the folder already shown (a change notification, F5, another mask) keeps the
    // selected and focused rows and the scroll position for the entries still there.
    TKeptView kept;
    const bool sameFolder = directory_ == filledDirectory_;
    if (sameFolder)
        kept = KeepView();
    else if (!thumbnails_.isEmpty() || !thumbnailWindow_.isEmpty())
        DropThumbnails();

    listMessage_.clear();
    model_->BeginFill();
    filling_ = true;
    model_->format = {fileSize_ == fsKB, datePattern_, timePattern_};
    model_->parentImage = parentImgIdx_;
    if (IsDrivesDirectory(directory_)) {
        InstallColumns(true);
        FillDrives();
        sortingEnabled_ = false;
    } else {
        if (driveColumns_ || !columnsInstalled_) InstallColumns(false);
        FillFolder();
        sortingEnabled_ = true;
    }
    // After every fill: sorted by name, ascending when the name order was in force already.
    // A live refresh keeps the order the user chose.
    if (!keepOrder) sortReverse_ = true;
    if (sortingEnabled_) {
        if (!keepOrder && sortColumn_ == 0) {
            sortReverse_ = !sortReverse_;
        } else if (!keepOrder) {
            sortColumn_ = 0;
            sortReverse_ = true;
        }
        SortRows();
    }
    filling_ = false;
    model_->EndFill();
    if (wasDrives == driveColumns_) {
        for (int i = 0; i < kColumnCount; ++i)
            header->resizeSection(i, widths[i]);
        UpdateListGrid();
    } else {
        ApplyColumnWidths();
    }
    UpdateSortIndicator();

    filledDirectory_ = directory_;
    AfterFill(sameFolder);
    RestoreView(kept);
    WatchDirectory();
    PlaceListMessage();

    if (ItemCount() > 0 && !selection_->hasSelection() && !selection_->currentIndex().isValid())
        selection_->setCurrentIndex(model_->index(0, 0), QItemSelectionModel::NoUpdate);
    // Let pending paints run; input waits until the fill is over.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void TFileListView::UpdateCutMarks() {
    QSet<QByteArray> cut;
    const TFileList clip = ClipboardFileList();
    if (clip.HasMode && clip.Cut)
        for (const QByteArray& path : clip.Native)
            cut.insert(path.size() > 1 && path.endsWith('/') ? path.chopped(1) : path);
    if (cut == model_->cutPaths) return;
    model_->cutPaths = cut;
    if (ItemCount() > 0)
        emit model_->dataChanged(model_->index(0, 0), model_->index(ItemCount() - 1, 0),
                                 {Qt::DecorationRole, Qt::ForegroundRole});
}

bool TFileListView::ItemDimmed(int row) const {
    return row >= 0 && row < ItemCount() && model_->IsCut(row);
}

void TFileListView::FillDrives() {
    ReadDriveRows(language_, model_->rows);
}

void TFileListView::FillFolder() {
    TFolderListing listing;
    listing.folder = AddSlash(directory_);
    listing.filter = static_cast<quint32>(fileType_.toInt());
    listing.mask = mask_;
    listing.showFolders = showFolders_;
    listing.parentDirEnabled = parentDirEnabled_;
    listing.parentCaption = parentDirCaption_;
    listing.parentImage = parentImgIdx_;
    listing.hideFileExt = hideFileExt_;
    listing.sniffText = sniffText_;
    listMessage_ = ReadFolderRows(listing, model_->rows);
}

void TFileListView::SetSniffText(bool value) {
    if (ChangeValue(sniffText_, value)) RebuildList();
}

bool TFileListView::LooksLikeText(const char* data, qsizetype size) {
    return ::LooksLikeText(data, size);
}

// --- Sorting ---------------------------------------------------------------------------------

QCollator TFileListView::NameCollator() {
    return FileNameCollator();
}

int TFileListView::CompareNames(const QString& a, const QString& b) {
    return CompareFileNames(a, b);
}

void TFileListView::SortRows() {
    const std::vector<int> order = model_->SortedOrder(sortColumn_, sortReverse_);
    if (filling_)
        model_->Arrange(order);  // inside a fill the model is being reset anyway
    else
        model_->Reorder(order);
}

void TFileListView::ColumnClick(int column) {
    if (!sortingEnabled_ || column < 0 || column >= kColumnCount) {
        UpdateSortIndicator();
        return;
    }
    if (column == sortColumn_) {
        sortReverse_ = !sortReverse_;
    } else {
        sortColumn_ = column;
        sortReverse_ = true;
    }
    SortRows();
    UpdateSortIndicator();
}

void TFileListView::UpdateSortIndicator() {
    QHeaderView* header = tree_->header();
    const QSignalBlocker block(header);
    if (!sortingEnabled_) {
        header->setSortIndicatorShown(false);
        header->setSortIndicator(-1, Qt::AscendingOrder);
        return;
    }
    header->setSortIndicatorShown(true);
    header->setSortIndicator(sortColumn_, sortReverse_ ? Qt::DescendingOrder : Qt::AscendingOrder);
}

// --- Rows ------------------------------------------------------------------------------------

int TFileListView::ItemCount() const {
    return model_->rowCount();
}

QString TFileListView::ItemCaption(int row) const {
    return row >= 0 && row < ItemCount() ? model_->rows[row].caption : QString();
}

int TFileListView::ItemImageIndex(int row) const {
    return row >= 0 && row < ItemCount() ? model_->Image(row) : -1;
}

int TFileListView::ItemSubItemCount(int row) const {
    return row >= 0 && row < ItemCount() ? model_->SubItemCount(row) : 0;
}

QString TFileListView::ItemSubItem(int row, int index) const {
    if (row < 0 || row >= ItemCount() || index < 0 || index >= model_->SubItemCount(row)) return {};
    return model_->SubItem(row, index);
}

QByteArray TFileListView::ItemNativePath(int row) const {
    if (row < 0 || row >= ItemCount()) return {};
    const TListRow& r = model_->rows[row];
    return r.native.isEmpty() ? QFile::encodeName(r.path) : r.native;
}

QList<QByteArray> TFileListView::NeighbourPictures(int row) const {
    QList<QByteArray> paths;
    for (int direction : {1, -1}) {
        for (int r = row + direction; r >= 0 && r < ItemCount(); r += direction) {
            if (ItemSubItem(r, 5) != QLatin1String(KindFile)) continue;
            paths << ItemNativePath(r);
            break;
        }
    }
    return paths;
}

QByteArray TFileListView::SelectedItemNative() const {
    return selectedNative_.isEmpty() ? QFile::encodeName(selectedItem_) : selectedNative_;
}

bool TFileListView::ItemSelected(int row) const {
    return row >= 0 && row < ItemCount() && selection_->isRowSelected(row, QModelIndex());
}

void TFileListView::SetItemSelected(int row, bool selected) {
    if (row < 0 || row >= ItemCount()) return;
    auto flags = (selected ? QItemSelectionModel::Select : QItemSelectionModel::Deselect) |
                 QItemSelectionModel::Rows;
    if (selected && !multiSelect_) flags |= QItemSelectionModel::Clear;
    selection_->select(model_->index(row, 0), flags);
}

bool TFileListView::ItemFocused(int row) const {
    return row >= 0 && selection_->currentIndex().row() == row;
}

void TFileListView::SetItemFocused(int row) {
    if (row < 0 || row >= ItemCount()) return;
    selection_->setCurrentIndex(model_->index(row, 0), QItemSelectionModel::NoUpdate);
}

void TFileListView::SelectAll() {
    if (ItemCount() == 0) return;
    if (multiSelect_) {
        View()->selectAll();
    } else {
        // A single-selection list keeps the last row it was told to select.
        SetItemSelected(ItemCount() - 1, true);
    }
}

int TFileListView::FirstSelectedRow() const {
    const QList<int> rows = SelectedRows();
    return rows.isEmpty() ? -1 : rows.first();
}

QList<int> TFileListView::SelectedRows() const {
    QList<int> rows;
    for (const QModelIndex& index : selection_->selectedRows())
        rows.append(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

QAbstractItemView* TFileListView::View() const {
    if (viewStyle_ == vsReport) return tree_;
    return list_;
}

QHeaderView* TFileListView::Header() const {
    return tree_->header();
}

// --- Clicks and navigation -------------------------------------------------------------------

void TFileListView::Click() {
    const int row = FirstSelectedRow();
    if (row < 0) return;
    selectedItem_ = model_->rows[row].path;
    selectedNative_ = model_->rows[row].native;
    struct stat st {};
    const bool known = ::stat(SelectedItemNative().constData(), &st) == 0;
    selectedDevice_ = known ? quint64(st.st_dev) : 0;
    selectedInode_ = known ? quint64(st.st_ino) : 0;
    emit OnItemChange(this, selectedItem_);
    emit OnClick(this);
}

void TFileListView::HandleDblClick() {
    const int row = FirstSelectedRow();
    if (row < 0 || model_->rows[row].caption.isEmpty()) return;
    if (dblClickToOpen_)
        OpenSelected();
    else if (model_->rows[row].parent)
        GoToParent();
    else
        emit OnDblClick(this);
}

void TFileListView::OpenSelected() {
    const int row = FirstSelectedRow();
    if (row < 0) return;
    THourglass hourglass;
    const TListRow& r = model_->rows[row];
    if (r.parent) {
        GoToParent();
        return;
    }
    const QString path = r.path;
    if (r.kind == rkFile) {
        // No default application for the type: the registered ones are offered instead of an
        // error box.
        if (!LaunchHookSet() && !HasDefaultApplication(path)) {
            const QRect item = View()->visualRect(model_->index(row, 0));
            PopupOpenWithMenu(this, path, View()->viewport()->mapToGlobal(item.bottomLeft()));
            return;
        }
        ShellLaunch(QStringLiteral("Open"), path, QString(), swShowNormal, FolderOf(path));
        return;
    }
    if (!r.native.isEmpty()) {
        // The folders and the combo go by names as text; this one cannot be written as such.
        ShowBrowseMessage(mkError,
                          QStringLiteral("Cannot open the folder \"%1\": its name is not valid "
                                         "in the system's character encoding.")
                              .arg(path),
                          this);
        return;
    }
    const QString target = AddSlash(path);
    if (r.kind == rkDrive && r.driveKind == dkRemovable && !DiskReady(target, true)) return;
    SetDirectory(target);
    if (dirTreeCombo_ != nullptr) dirTreeCombo_->SelectFolder(target);
}

void TFileListView::GoToParent() {
    if (IsDrivesDirectory(directory_)) return;
    const QString shown = AddSlash(directory_);
    if (shown == QLatin1String("/")) {
        SetDirectory(QString::fromLatin1(DrivesDirectory));
        return;
    }
    const QString trimmed = DropSlash(shown);
    const QString parent = trimmed.left(trimmed.lastIndexOf(u'/') + 1);
    SetDirectory(parent);
    if (dirTreeCombo_ != nullptr) dirTreeCombo_->SelectFolder(parent);
    for (int row = 0; row < ItemCount(); ++row) {
        if (AddSlash(model_->rows[row].path) != shown) continue;
        const QModelIndex index = model_->index(row, 0);
        selection_->setCurrentIndex(
            index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        View()->scrollTo(index);
        Click();
        break;
    }
}

// --- Keys ------------------------------------------------------------------------------------

bool TFileListView::HandleKeyDown(QKeyEvent* event) {
    const Qt::KeyboardModifiers mods =
        event->modifiers() &
        (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    const bool none = mods == Qt::NoModifier;
    const bool ctrl = mods == Qt::ControlModifier;
    const bool hasSelection = FirstSelectedRow() >= 0;
    const int key = event->key();
    bool action = true;
    if (KeyDownFilter && KeyDownFilter(key, mods)) return true;
    if (HandleFilterKey(event, mods)) return true;

    if (ctrl && key == Qt::Key_A) {
        if (ItemCount() > 0) SelectAll();
    } else if (ctrl && key == Qt::Key_O) {
        if (hasSelection) OpenSelected();
    } else if (none && key == Qt::Key_Backspace) {
        GoToParent();
    } else if (none && (key == Qt::Key_Return || key == Qt::Key_Enter)) {
        if (hasSelection) OpenSelected();
    } else if (none && key == Qt::Key_Escape) {
        if (dirTreeCombo_ == nullptr) return true;  // swallowed
        if (dirTreeCombo_->IsDropDownOpen()) dirTreeCombo_->CloseDropDown();
    } else if (none && key == Qt::Key_F3) {
        ShellLaunch(QStringLiteral("Find"), directory_, QString(), swShowNormal, QString());
    } else if (none && key == Qt::Key_F4) {
        if (dirTreeCombo_ == nullptr) return true;  // swallowed
        if (!dirTreeCombo_->IsDropDownOpen()) dirTreeCombo_->ToggleDropDown();
    } else if (none && key == Qt::Key_F5) {
        RebuildList();
        if (dirTreeCombo_ != nullptr) {
            const QString path = dirTreeCombo_->SelectedPath();
            dirTreeCombo_->ReloadTree();
            dirTreeCombo_->SelectFolder(path);
        }
    } else if (const int step = ThumbnailSizeKey(key, mods)) {
        StepThumbnailSize(step);
    } else if (const int fileKey = HandleFileKey(key, mods)) {
        if (fileKey == 2) return true;  // not passed on
    } else {
        action = false;
    }
    emit OnKeyDown(this, key, mods);
    return action;
}

void TFileListView::HandleKeyUp(QKeyEvent* event) {
    if (event->isAutoRepeat()) return;
    const bool moved = keyMoved_;
    keyMoved_ = false;
    if (moved || event->key() == Qt::Key_Up || event->key() == Qt::Key_Down) Click();
}

// --- Parent icon -----------------------------------------------------------------------------

void TFileListView::EnsureParentIcon() {
    TSystemImageList& icons = TSystemImageList::Instance();
    const QIcon icon = MakeParentIcon();
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope,
                       QLatin1String(ParentIconOrganization), QLatin1String(ParentIconApplication));
    const QString key = QLatin1String(ParentIconValue);
    bool known = false;
    int index = -1;
    if (settings.contains(key)) {
        index = settings.value(key).toInt(&known);
        known = known && index >= 0 && index < icons.Count() &&
                SameImage(IconImage(icons.Icon(index)), IconImage(icon));
    }
    if (!known) {
        index = icons.Add(icon);
        settings.setValue(key, index);
    }
    parentImgIdx_ = index;
}
