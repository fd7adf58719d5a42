#include "browse/KvFilelistView28.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <QAbstractTableModel>
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
#include <QListView>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSet>
#include <QSettings>
#include <QStackedLayout>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QTreeView>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <vector>

#include "browse/DirTreeComboLink.h"
#include "browse/FileClipboard.h"
#include "browse/MessageCatalogue.h"
#include "browse/ShellHelpers.h"
#include "toolkit/Application.h"

// ---------------------------------------------------------------------------------------------
// Rows and the model

namespace {

constexpr int kColumnCount = 5;
constexpr int kFolderSubItems = 7;
constexpr int kDriveSubItems = 6;
constexpr int kDriveColumnWidths[kColumnCount] = {160, 110, 90, 90, 40};

// 100-nanosecond units between 1601-01-01 and 1970-01-01.
constexpr qint64 kFileTimeUnixEpoch = 116444736000000000LL;

enum TRowKind : char { rkDir, rkFile, rkDrive };

// Which lazily made texts of a row are ready.
enum : quint8 { txSize = 1, txType = 2, txModified = 4, txAttr = 8, txAll = 15 };

// One row. Folder rows keep the raw entry data and make their column texts on first use (most
// rows of a long folder are never painted in report style and never at all in list style).
struct TListRow {
    QString caption;
    QString path;         // sub-item 4
    QByteArray native;    // the path's bytes, kept only when the name does not decode cleanly
    qint64 size = 0;      // bytes
    qint64 fileTime = 0;  // last write, 100-ns units since 1601 UTC
    quint32 attributes = 0;
    TRowKind kind = rkFile;
    bool parent = false;
    TDriveKind driveKind = dkUnknown;
    mutable int image = -2;  // -2: not looked up yet
    mutable quint8 ready = 0;
    mutable QString texts[4];  // sub-items 0 to 3
};

// The formats in force when the rows were filled; rows keep them until the next fill.
struct TFillFormat {
    bool sizeInKB = true;
    QString datePattern;
    QString timePattern;
};

}  // namespace

class TFileListModel : public QAbstractTableModel {
  public:
    std::vector<TListRow> rows;
    TFillFormat format;
    int parentImage = -1;
    QString captions[kColumnCount];
    Qt::Alignment alignments[kColumnCount] = {};

    int rowCount(const QModelIndex& parent = QModelIndex()) const override {
        return parent.isValid() ? 0 : static_cast<int>(rows.size());
    }
    int columnCount(const QModelIndex& parent = QModelIndex()) const override {
        return parent.isValid() ? 0 : kColumnCount;
    }

    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || index.row() >= rowCount()) return {};
        const int row = index.row();
        const int column = index.column();
        switch (role) {
            case Qt::DisplayRole:
                return column == 0 ? rows[row].caption : SubItem(row, column - 1);
            case Qt::DecorationRole: {
                if (column != 0) return {};
                const QIcon icon = TSystemImageList::Instance().Icon(Image(row));
                if (!IsCut(row)) return icon;
                // A cut entry is shown dimmed until it is pasted, as file managers do.
                return QIcon(icon.pixmap(QSize(32, 32), QIcon::Disabled));
            }
            case Qt::ForegroundRole:
                if (!IsCut(row)) return {};
                return QApplication::palette().brush(QPalette::Disabled, QPalette::Text);
            case Qt::TextAlignmentRole:
                return QVariant::fromValue(alignments[column] | Qt::AlignVCenter);
            default:
                return {};
        }
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount) return {};
        if (role == Qt::DisplayRole) return captions[section];
        if (role == Qt::TextAlignmentRole)
            return QVariant::fromValue(alignments[section] | Qt::AlignVCenter);
        return {};
    }

    Qt::ItemFlags flags(const QModelIndex& index) const override {
        if (!index.isValid()) return Qt::NoItemFlags;
        return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    }

    // The paths the clipboard holds as cut (without a trailing "/").
    QSet<QByteArray> cutPaths;

    bool IsCut(int row) const {
        if (cutPaths.isEmpty()) return false;
        const TListRow& r = rows[row];
        return !r.parent &&
               cutPaths.contains(r.native.isEmpty() ? QFile::encodeName(r.path) : r.native);
    }

    int SubItemCount(int row) const {
        return rows[row].kind == rkDrive ? kDriveSubItems : kFolderSubItems;
    }

    QString SubItem(int row, int index) const {
        const TListRow& r = rows[row];
        switch (index) {
            case 0:
            case 1:
            case 2:
            case 3:
                MakeText(r, index);
                return r.texts[index];
            case 4:
                return r.path;
            case 5:
                return QString::fromLatin1(r.kind == rkDir    ? TKvFilelistView28::KindDir
                                           : r.kind == rkFile ? TKvFilelistView28::KindFile
                                                              : TKvFilelistView28::KindDrive);
            case 6:
                return r.kind == rkDrive ? QString() : QString::number(r.fileTime);
            default:
                return {};
        }
    }

    int Image(int row) const {
        const TListRow& r = rows[row];
        if (r.image == -2) r.image = r.parent ? parentImage : SmallIconIndex(r.path);
        return r.image;
    }

    // The Size column as a number, as the Size order reads it back from the text.
    qint64 SizeNumber(const TListRow& r) const {
        if (r.kind != rkFile) return 0;
        if (!format.sizeInKB) return r.size;
        return r.size > 0 && r.size < 1024 ? 1 : r.size / 1024;
    }

    void SetColumns(const QString (&newCaptions)[kColumnCount],
                    const Qt::Alignment (&newAlignments)[kColumnCount]) {
        for (int i = 0; i < kColumnCount; ++i) {
            captions[i] = newCaptions[i];
            alignments[i] = newAlignments[i];
        }
        emit headerDataChanged(Qt::Horizontal, 0, kColumnCount - 1);
    }

    void BeginFill() {
        beginResetModel();
        rows.clear();
    }
    void EndFill() { endResetModel(); }

    // Puts the rows into a new order (order[i] is the old row now at i), keeping the selection
    // and the focused row on their rows.
    void Reorder(const std::vector<int>& order) {
        emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
        std::vector<int> newRowOf(order.size());
        for (size_t i = 0; i < order.size(); ++i)
            newRowOf[order[i]] = static_cast<int>(i);
        std::vector<TListRow> sorted;
        sorted.reserve(rows.size());
        for (int old : order)
            sorted.push_back(std::move(rows[old]));
        rows.swap(sorted);
        const QModelIndexList from = persistentIndexList();
        QModelIndexList to;
        to.reserve(from.size());
        for (const QModelIndex& index : from)
            to.append(index.row() < static_cast<int>(newRowOf.size())
                          ? createIndex(newRowOf[index.row()], index.column())
                          : QModelIndex());
        changePersistentIndexList(from, to);
        emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    }

  private:
    void MakeText(const TListRow& r, int index) const {
        const quint8 bit = static_cast<quint8>(1u << index);
        if (r.ready & bit) return;
        r.ready |= bit;
        if (r.parent) {
            r.texts[index] = QStringLiteral(" ");
            return;
        }
        switch (index) {
            case 0:
                if (format.sizeInKB)
                    r.texts[0] = SizeTextKB(
                        r.kind == rkDir ? QStringLiteral("dir") : QStringLiteral("file"), r.size);
                else
                    r.texts[0] = r.kind == rkDir ? QStringLiteral(" ") : QString::number(r.size);
                break;
            case 1:
                r.texts[1] = ShellTypeName(r.path).left(79);
                break;
            case 2:
                r.texts[2] = FormatModified(r.fileTime, format.datePattern, format.timePattern);
                break;
            case 3:
                r.texts[3] = AttributeLetters(r.attributes);
                break;
        }
    }
};

// ---------------------------------------------------------------------------------------------
// Views

namespace {

// Both views hand keys, clicks and double-clicks to the list; only the presentation differs.
template <class Base>
class TFileListViewT : public Base {
  public:
    explicit TFileListViewT(TKvFilelistView28* owner) : Base(owner), owner_(owner) {
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

    TKvFilelistView28* owner_;
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

}  // namespace

class TFileListTreeView : public TFileListViewT<QTreeView> {
  public:
    explicit TFileListTreeView(TKvFilelistView28* owner) : TFileListViewT<QTreeView>(owner) {
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
    explicit TFileListListView(TKvFilelistView28* owner) : TFileListViewT<QListView>(owner) {
        delegate = new TUniformItemDelegate(this);
        setItemDelegate(delegate);
        setUniformItemSizes(true);
        setResizeMode(QListView::Adjust);
        setMovement(QListView::Static);
    }
    TUniformItemDelegate* delegate;
};

// ---------------------------------------------------------------------------------------------
// Directory reading

namespace {

// One wildcard piece, prepared once per fill: "*" any run of characters, "?" any one character,
// letter case ignored; "*.*" takes every name, also names without a dot.
class TNamePattern {
  public:
    explicit TNamePattern(const QString& piece) {
        if (piece.isEmpty() || piece.contains(u'/') || piece.contains(QChar(0))) {
            kind_ = pkNone;
        } else if (piece == QLatin1String("*.*") || piece == QLatin1String("*")) {
            kind_ = pkAll;
        } else {
            pattern_ = piece.toCaseFolded();
            const QString rest = pattern_.mid(1);
            if (pattern_.startsWith(u'*') && !rest.contains(u'*') && !rest.contains(u'?')) {
                kind_ = pkSuffix;
                pattern_ = rest;
            } else {
                kind_ = pkGlob;
            }
        }
    }

    bool MatchesAll() const { return kind_ == pkAll; }
    bool MatchesNone() const { return kind_ == pkNone; }

    // foldedName: the name passed through QString::toCaseFolded().
    bool Matches(const QString& foldedName) const {
        switch (kind_) {
            case pkNone:
                return false;
            case pkAll:
                return true;
            case pkSuffix:
                return foldedName.endsWith(pattern_);
            case pkGlob:
                return Glob(foldedName);
        }
        return false;
    }

  private:
    bool Glob(const QString& name) const {
        const QChar* p = pattern_.constData();
        const QChar* s = name.constData();
        const qsizetype pn = pattern_.size();
        const qsizetype sn = name.size();
        qsizetype pi = 0, si = 0, starP = -1, starS = 0;
        while (si < sn) {
            if (pi < pn && p[pi] == u'*') {
                starP = pi++;
                starS = si;
            } else if (pi < pn && (p[pi] == u'?' || p[pi] == s[si])) {
                ++pi;
                ++si;
            } else if (starP >= 0) {
                pi = starP + 1;
                si = ++starS;
            } else {
                return false;
            }
        }
        while (pi < pn && p[pi] == u'*')
            ++pi;
        return pi == pn;
    }

    enum { pkNone, pkAll, pkSuffix, pkGlob } kind_ = pkNone;
    QString pattern_;
};

// Decides "the user may not write it" from the mode bits, the way access(W_OK) does for the
// common cases, without a system call per entry.
class TWriteAccess {
  public:
    explicit TWriteAccess(int dirFd) {
        uid_ = ::geteuid();
        gid_ = ::getegid();
        const int n = ::getgroups(0, nullptr);
        if (n > 0) {
            groups_.resize(static_cast<size_t>(n));
            const int got = ::getgroups(n, groups_.data());
            groups_.resize(got > 0 ? static_cast<size_t>(got) : 0);
        }
        struct statvfs fs {};
        readOnlyFs_ = ::fstatvfs(dirFd, &fs) == 0 && (fs.f_flag & ST_RDONLY) != 0;
    }

    bool MayWrite(const struct stat& st) const {
        if (readOnlyFs_) return false;
        if (uid_ == 0) return true;
        if (st.st_uid == uid_) return (st.st_mode & S_IWUSR) != 0;
        if (st.st_gid == gid_ ||
            std::find(groups_.begin(), groups_.end(), st.st_gid) != groups_.end())
            return (st.st_mode & S_IWGRP) != 0;
        return (st.st_mode & S_IWOTH) != 0;
    }

  private:
    uid_t uid_;
    gid_t gid_;
    std::vector<gid_t> groups_;
    bool readOnlyFs_ = false;
};

// One directory entry, read once per fill; stat()ed only when some pass needs it.
struct TDirEntry {
    QByteArray native;
    QString name;
    bool lossy = false;
    QString folded;
    unsigned char type = DT_UNKNOWN;
    bool statDone = false;
    bool exists = false;
    quint32 attributes = 0;
    qint64 size = 0;
    qint64 fileTime = 0;
};

class TDirectoryReader {
  public:
    explicit TDirectoryReader(const QString& folder) {
        const QByteArray native = QFile::encodeName(folder);
        fd_ = ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd_ < 0) {
            error_ = errno;
            return;
        }
        access_ = std::make_unique<TWriteAccess>(fd_);
        const int dupFd = ::dup(fd_);
        DIR* dir = dupFd >= 0 ? ::fdopendir(dupFd) : nullptr;
        if (dir == nullptr) {
            error_ = errno;
            if (dupFd >= 0) ::close(dupFd);
            ::close(fd_);
            fd_ = -1;
            return;
        }
        while (const dirent* e = ::readdir(dir)) {
            TDirEntry entry;
            entry.native = QByteArray(e->d_name);
            entry.name = QFile::decodeName(entry.native);
            // A name that is not valid in the locale's encoding shows replacement characters;
            // its row keeps the original bytes so that it can still be opened.
            entry.lossy = entry.name.contains(QChar::ReplacementCharacter);
            entry.type = e->d_type;
            entries_.push_back(std::move(entry));
        }
        ::closedir(dir);
    }
    ~TDirectoryReader() {
        if (fd_ >= 0) ::close(fd_);
    }
    TDirectoryReader(const TDirectoryReader&) = delete;
    TDirectoryReader& operator=(const TDirectoryReader&) = delete;

    bool Ok() const { return fd_ >= 0; }
    // Why the folder could not be read (an errno value).
    int Error() const { return error_; }
    std::vector<TDirEntry>& Entries() { return entries_; }

    // Whether the entry is a folder, without a stat() when the listing already says so.
    bool IsFolder(TDirEntry& e) {
        if (e.type == DT_DIR) return true;
        if (e.type != DT_LNK && e.type != DT_UNKNOWN) return false;
        Stat(e);
        return (e.attributes & faDirectory) != 0;
    }

    void Stat(TDirEntry& e) {
        if (e.statDone) return;
        e.statDone = true;
        struct stat st {};
        if (::fstatat(fd_, e.native.constData(), &st, 0) != 0 &&
            ::fstatat(fd_, e.native.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            return;
        e.exists = true;
        quint32 a = 0;
        if (S_ISDIR(st.st_mode))
            a |= faDirectory;
        else if (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode))
            a |= faArchive;
        else
            a |= faSysFile;
        if (e.name.startsWith(u'.') && e.name != u"." && e.name != u"..") a |= faHidden;
        if (!access_->MayWrite(st)) a |= faReadOnly;
        e.attributes = a;
        e.size = S_ISDIR(st.st_mode) ? 0 : static_cast<qint64>(st.st_size);
        e.fileTime = (static_cast<qint64>(st.st_mtim.tv_sec) * 10000000LL +
                      static_cast<qint64>(st.st_mtim.tv_nsec) / 100) +
                     kFileTimeUnixEpoch;
    }

  private:
    int fd_ = -1;
    int error_ = 0;
    std::unique_ptr<TWriteAccess> access_;
    std::vector<TDirEntry> entries_;
};

// Whether an entry with attributes a passes the filter f.
bool PassesFilter(quint32 a, quint32 f) {
    if ((a & faDirectory) != (f & faDirectory)) return false;
    if ((a & faReadOnly) && !(f & faReadOnly)) return false;
    if ((a & faHidden) && !(f & faHidden)) return false;
    if ((a & faSysFile) && !(f & faSysFile)) return false;
    return true;
}

// Locale patterns (Qt's letters) turned into the pattern letters the Modified text uses.
QString FromQtPattern(const QString& qt, bool keepAmPmAsT) {
    QString out;
    for (qsizetype i = 0; i < qt.size();) {
        const QChar c = qt.at(i);
        qsizetype n = 1;
        while (i + n < qt.size() && qt.at(i + n) == c)
            ++n;
        if (c == u'\'') {
            const qsizetype end = qt.indexOf(u'\'', i + 1);
            const qsizetype stop = end < 0 ? qt.size() : end + 1;
            out += qt.mid(i, stop - i);
            i = stop;
            continue;
        }
        if (c == u'A' || c == u'a') {
            // "AP"/"A" (upper case) and "ap"/"a" (lower case) give the 12-hour clock marker.
            qsizetype len = 1;
            if (i + 1 < qt.size() && (qt.at(i + 1) == u'P' || qt.at(i + 1) == u'p')) len = 2;
            if (keepAmPmAsT)
                out += QStringLiteral("tt");
            else
                out += c == u'A' ? QStringLiteral("AM/PM") : QStringLiteral("am/pm");
            i += len;
            continue;
        }
        if (c == u't') {
            // Time zone: not part of the patterns; drop it with the blank before it.
            while (out.endsWith(u' '))
                out.chop(1);
            i += n;
            continue;
        }
        if (c == u'H') {
            out += QString(n, u'h');
            i += n;
            continue;
        }
        out += qt.mid(i, n);
        i += n;
    }
    return out.trimmed();
}

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
// TKvFilelistView28

TKvFilelistView28::TKvFilelistView28(QWidget* parent)
    : TControl<QFrame>(parent), model_(std::make_unique<TFileListModel>()) {
    setFrameShape(QFrame::StyledPanel);
    stack_ = new QStackedLayout(this);
    stack_->setContentsMargins(0, 0, 0, 0);

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

    connect(tree_->header(), &QHeaderView::sectionClicked, this, &TKvFilelistView28::ColumnClick);
    // Cut entries are dimmed while the clipboard holds them as cut.
    if (QClipboard* clipboard = QApplication::clipboard())
        connect(clipboard, &QClipboard::dataChanged, this, &TKvFilelistView28::UpdateCutMarks);
    // The header flips its indicator on clicks by itself; keep showing the list's own order.
    connect(tree_->header(), &QHeaderView::sortIndicatorChanged, this,
            [this] { UpdateSortIndicator(); });

    LoadMessages(mwFileList, language_);
    UpdateDatePattern();
    UpdateTimePattern();
    EnsureParentIcon();
    SetMultiSelect(true);
    InstallFolderColumns();
    SetViewStyle(vsReport);
    SetTabStop(true);
    UpdateSortIndicator();
    RebuildPopUp();
    HookOwnerForDrops();
    constructed_ = true;
}

TKvFilelistView28::~TKvFilelistView28() {
    delete dropHook_;
    dropHook_ = nullptr;
    if (dirTreeCombo_ != nullptr) {
        DirTreeComboLink* combo = dirTreeCombo_;
        dirTreeCombo_ = nullptr;
        disconnect(comboDestroyed_);
        combo->SetFileList(nullptr);
    }
    // The views go before the model they show; the tree owns the shared selection.
    delete list_;
    delete tree_;
}

// --- Properties ------------------------------------------------------------------------------

void TKvFilelistView28::SetDateFormat(TDtFormat value) {
    if (value == dateFormat_) return;
    dateFormat_ = value;
    UpdateDatePattern();
}

void TKvFilelistView28::SetTimeFormat(TTmFormat value) {
    if (value == timeFormat_) return;
    timeFormat_ = value;
    UpdateTimePattern();
}

void TKvFilelistView28::UpdateDatePattern() {
    switch (dateFormat_) {
        case df_MMddyyyy:
            datePattern_ = QStringLiteral("MM/dd/yyyy");
            break;
        case df_MMddyy:
            datePattern_ = QStringLiteral("MM/dd/yy");
            break;
        case df_ddMMyyyy:
            datePattern_ = QStringLiteral("dd/MM/yyyy");
            break;
        case df_ddMMyy_GB:
            datePattern_ = QStringLiteral("dd/MM/yy");
            break;
        case df_ddMMyy_DE:
            datePattern_ = QStringLiteral("dd.MM.yy");
            break;
        case df_ddMMyy_IT:
            datePattern_ = QStringLiteral("dd-MM-yy");
            break;
        case df_yyyyMMdd:
            datePattern_ = QStringLiteral("yyyy-MM-dd");
            break;
        case df_yyMMdd:
            datePattern_ = QStringLiteral("yy-MM-dd");
            break;
        case df_Customize:
        default:
            datePattern_ = FromQtPattern(QLocale().dateFormat(QLocale::ShortFormat), false);
            break;
    }
}

void TKvFilelistView28::UpdateTimePattern() {
    switch (timeFormat_) {
        case tfLongFormat:
            timePattern_ = FromQtPattern(QLocale().timeFormat(QLocale::LongFormat), false);
            break;
        case tfCustomize: {
            // The locale's time pattern cut before its 12-hour marker, then a 12-hour clock.
            QString pattern = FromQtPattern(QLocale().timeFormat(QLocale::LongFormat), true);
            const qsizetype t = pattern.indexOf(u't');
            if (t >= 0) pattern.truncate(t);
            timePattern_ = pattern + QStringLiteral(" AM/PM");
            break;
        }
        case tfShortFormat:
        default:
            timePattern_ = FromQtPattern(QLocale().timeFormat(QLocale::ShortFormat), false);
            break;
    }
}

bool TKvFilelistView28::IsDrivesDirectory(const QString& path) const {
    return path.compare(QLatin1String(DrivesDirectory), Qt::CaseInsensitive) == 0;
}

void TKvFilelistView28::SetDirectory(const QString& value) {
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

qint64 TKvFilelistView28::DriveFreeSpace() const {
    if (IsDrivesDirectory(directory_)) return 0;
    return DriveFreeKB(directory_);
}

void TKvFilelistView28::SetFileType(TFileType value) {
    if (value == fileType_) return;
    fileType_ = value;
    RebuildList();
}

void TKvFilelistView28::SetMask(const QString& value) {
    if (value == mask_) return;
    mask_ = value;
    RebuildList();
}

void TKvFilelistView28::SetShowFolders(bool value) {
    if (value == showFolders_) return;
    showFolders_ = value;
    RebuildList();
}

void TKvFilelistView28::SetLanguage(TLanguage value) {
    if (!ApplyComponentLanguage(mwFileList, language_, value)) return;
    popUpMenuEnabled_ = true;
    RebuildPopUp();
    // The captions follow the language at once; the installed column set stays.
    if (driveColumns_)
        InstallDriveColumns();
    else
        InstallFolderColumns();
}

void TKvFilelistView28::SetParentDirCaption(const QString& value) {
    const QString fresh = value.trimmed();
    if (fresh.compare(parentDirCaption_.trimmed(), Qt::CaseInsensitive) == 0) return;
    parentDirCaption_ = u' ' + fresh;
}

void TKvFilelistView28::SetPopUpMenuEnabled(bool value) {
    if (value == popUpMenuEnabled_) return;
    popUpMenuEnabled_ = value;
    if (!value) {
        QWidget* grabber = QWidget::mouseGrabber();
        if (grabber == tree_ || grabber == list_ || grabber == this) grabber->releaseMouse();
    }
}

int TKvFilelistView28::SelectedNumber() const {
    const int selected = static_cast<int>(SelectedRows().size());
    return selected > 0 ? selected : ItemCount();
}

qint64 TKvFilelistView28::SelectedSize() const {
    qint64 sum = 0;
    for (int row : SelectedRows()) {
        const TListRow& r = model_->rows[row];
        if (r.kind == rkFile) sum += r.size;
    }
    return sum;
}

void TKvFilelistView28::SetMultiSelect(bool value) {
    if (value == multiSelect_ && constructed_) return;
    multiSelect_ = value;
    const auto mode =
        value ? QAbstractItemView::ExtendedSelection : QAbstractItemView::SingleSelection;
    tree_->setSelectionMode(mode);
    list_->setSelectionMode(mode);
}

void TKvFilelistView28::SetHotTrack(bool value) {
    if (value == hotTrack_ && constructed_) return;
    hotTrack_ = value;
    tree_->setMouseTracking(value);
    list_->setMouseTracking(value);
}

void TKvFilelistView28::SetViewStyle(TViewStyle value) {
    if (value == viewStyle_ && constructed_) return;
    viewStyle_ = value;
    const bool hadFocus = View()->hasFocus() || hasFocus();
    if (value == vsReport) {
        stack_->setCurrentWidget(tree_);
    } else {
        if (value == vsIcon) {
            list_->setViewMode(QListView::IconMode);
            list_->setIconSize(QSize(32, 32));
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
    UpdateListGrid();
    setFocusProxy(View());
    if (hadFocus) View()->setFocus();
}

void TKvFilelistView28::SetShowColumnHeaders(bool value) {
    if (value == showColumnHeaders_ && constructed_) return;
    showColumnHeaders_ = value;
    tree_->header()->setVisible(value);
}

void TKvFilelistView28::SetTabStop(bool value) {
    if (value == tabStop_ && constructed_) return;
    tabStop_ = value;
    const Qt::FocusPolicy policy = value ? Qt::StrongFocus : Qt::ClickFocus;
    setFocusPolicy(policy);
    tree_->setFocusPolicy(policy);
    list_->setFocusPolicy(policy);
}

void TKvFilelistView28::SetDirTreeCombo(DirTreeComboLink* combo) {
    if (combo == dirTreeCombo_) return;
    if (dirTreeCombo_ != nullptr) {
        DirTreeComboLink* old = dirTreeCombo_;
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

void TKvFilelistView28::showEvent(QShowEvent* event) {
    // The window exists from the first show on: the owner has set its properties by then, so
    // the folder columns take the configured widths now.
    if (!windowCreated_) {
        windowCreated_ = true;
        if (!driveColumns_) InstallFolderColumns();
    }
    TControl<QFrame>::showEvent(event);
}

void TKvFilelistView28::resizeEvent(QResizeEvent* event) {
    TControl<QFrame>::resizeEvent(event);
    PlaceListMessage();
}

void TKvFilelistView28::PlaceListMessage() {
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

void TKvFilelistView28::InstallFolderColumns() {
    const QString captions[kColumnCount] = {
        CatalogueText(language_, crName), CatalogueText(language_, crSize),
        CatalogueText(language_, crType), CatalogueText(language_, crModified),
        CatalogueText(language_, crAttr)};
    const Qt::Alignment alignments[kColumnCount] = {Qt::AlignLeft, Qt::AlignRight, Qt::AlignLeft,
                                                    Qt::AlignLeft, Qt::AlignLeft};
    model_->SetColumns(captions, alignments);
    driveColumns_ = false;
    columnsInstalled_ = true;
    ApplyColumnWidths();
}

void TKvFilelistView28::InstallDriveColumns() {
    const QString captions[kColumnCount] = {
        CatalogueText(language_, crName), CatalogueText(language_, crType),
        CatalogueText(language_, crDiskSize), CatalogueText(language_, crFreeSpace),
        CatalogueText(language_, crAttr)};
    const Qt::Alignment alignments[kColumnCount] = {Qt::AlignLeft, Qt::AlignLeft, Qt::AlignRight,
                                                    Qt::AlignRight, Qt::AlignLeft};
    model_->SetColumns(captions, alignments);
    driveColumns_ = true;
    columnsInstalled_ = true;
    ApplyColumnWidths();
}

void TKvFilelistView28::ApplyColumnWidths() {
    QHeaderView* header = tree_->header();
    for (int i = 0; i < kColumnCount; ++i)
        header->resizeSection(i, std::max(0, driveColumns_ ? kDriveColumnWidths[i] : colWidth_[i]));
    UpdateListGrid();
}

void TKvFilelistView28::UpdateListGrid() {
    // In list style the Name column's width is the width of every column of captions.
    const int width = tree_->header()->sectionSize(0);
    list_->delegate->itemWidth = viewStyle_ == vsList ? width : 0;
    if (!filling_) emit list_->delegate->sizeHintChanged(QModelIndex());
}

void TKvFilelistView28::ResetColumnWidths() {
    if (!driveColumns_) ApplyColumnWidths();
}

int TKvFilelistView28::ColumnCount() const {
    return kColumnCount;
}

QString TKvFilelistView28::ColumnCaption(int column) const {
    return column >= 0 && column < kColumnCount ? model_->captions[column] : QString();
}

int TKvFilelistView28::ColumnWidth(int column) const {
    return column >= 0 && column < kColumnCount ? tree_->header()->sectionSize(column) : 0;
}

// --- Filling ---------------------------------------------------------------------------------

void TKvFilelistView28::RebuildList() {
    Refill(false);
}

void TKvFilelistView28::Refill(bool keepOrder) {
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
    if (directory_ == filledDirectory_) kept = KeepView();

    listMessage_.clear();
    model_->BeginFill();
    filling_ = true;
    model_->format = {fileSize_ == fsKB, datePattern_, timePattern_};
    model_->parentImage = parentImgIdx_;
    if (IsDrivesDirectory(directory_)) {
        InstallDriveColumns();
        FillDrives();
        sortingEnabled_ = false;
    } else {
        if (driveColumns_ || !columnsInstalled_) InstallFolderColumns();
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
    RestoreView(kept);
    WatchDirectory();
    PlaceListMessage();

    if (ItemCount() > 0 && !selection_->hasSelection() && !selection_->currentIndex().isValid())
        selection_->setCurrentIndex(model_->index(0, 0), QItemSelectionModel::NoUpdate);
    // Let pending paints run; input waits until the fill is over.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void TKvFilelistView28::UpdateCutMarks() {
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

bool TKvFilelistView28::ItemDimmed(int row) const {
    return row >= 0 && row < ItemCount() && model_->IsCut(row);
}

// --- Live list -------------------------------------------------------------------------------

void TKvFilelistView28::WatchDirectory() {
    const QString wanted = IsDrivesDirectory(directory_) ? QString() : QDir::cleanPath(directory_);
    if (wanted == WatchedFolder()) return;
    if (watcher_ == nullptr) {
        watcher_ = new QFileSystemWatcher(this);
        connect(watcher_, &QFileSystemWatcher::directoryChanged, this,
                &TKvFilelistView28::DirectoryChanged);
        liveTimer_ = new QTimer(this);
        liveTimer_->setSingleShot(true);
        connect(liveTimer_, &QTimer::timeout, this, &TKvFilelistView28::LiveRefresh);
    }
    liveTimer_->stop();
    if (!watcher_->directories().isEmpty()) watcher_->removePaths(watcher_->directories());
    if (!wanted.isEmpty()) watcher_->addPath(wanted);
}

QString TKvFilelistView28::WatchedFolder() const {
    return watcher_ == nullptr || watcher_->directories().isEmpty()
               ? QString()
               : watcher_->directories().first();
}

void TKvFilelistView28::DirectoryChanged() {
    if (liveTimer_->isActive()) return;  // already due
    // Shown soon, but a folder that keeps changing (a copy of thousands of files) is re-read
    // only once per interval.
    const qint64 since = lastLive_.isValid() ? lastLive_.elapsed() : LiveRefreshIntervalMs;
    liveTimer_->start(
        static_cast<int>(std::max<qint64>(LiveRefreshDelayMs, LiveRefreshIntervalMs - since)));
}

void TKvFilelistView28::LiveRefresh() {
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

TKvFilelistView28::TKeptView TKvFilelistView28::KeepView() const {
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

QString TKvFilelistView28::RowKey(int row) const {
    const TListRow& r = model_->rows[row];
    // The parent row shares no path with another row, but mark it all the same.
    return r.parent ? QStringLiteral("\x01") + r.path : r.path;
}

void TKvFilelistView28::RestoreView(const TKeptView& kept) {
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
        selected.select(model_->index(rows[i], 0), model_->index(rows[j], kColumnCount - 1));
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

void TKvFilelistView28::FillDrives() {
    for (const TDriveInfo& drive : EnumerateDrives()) {
        TListRow row;
        row.kind = rkDrive;
        row.driveKind = drive.Kind;
        row.caption = drive.Caption;
        row.path = drive.Root;
        row.image = DriveIconIndex(drive.Kind);
        row.texts[0] = DriveKindText(drive.Kind, language_);
        // Removable and optical media are never touched just to list them.
        qint64 total = 0, free = 0;
        if (drive.Kind != dkRemovable && drive.Kind != dkCDRom) {
            total = DriveSizeKB(drive.Root);
            free = DriveFreeKB(drive.Root);
        }
        row.texts[1] = DriveSizeText(total);
        row.texts[2] = DriveSizeText(free);
        row.texts[3] = QString();
        row.ready = txAll;
        model_->rows.push_back(std::move(row));
    }
}

void TKvFilelistView28::FillFolder() {
    const QString folder = AddSlash(directory_);
    TDirectoryReader reader(folder);
    const quint32 filter = static_cast<quint32>(fileType_.toInt());
    const bool isRoot = folder == QLatin1String("/");
    const QByteArray nativeFolder = QFile::encodeName(folder);

    auto append = [&](TDirEntry& e, bool parentEntry) {
        TListRow row;
        row.parent = parentEntry;
        row.kind = (e.attributes & faDirectory) ? rkDir : rkFile;
        row.path = folder + e.name;
        if (e.lossy) row.native = nativeFolder + e.native;
        if (parentEntry) {
            row.caption = parentDirCaption_;
            row.image = parentImgIdx_;
        } else if (hideFileExt_) {
            row.caption = NameWithoutExt(e.name);
        } else {
            row.caption = e.name;
        }
        row.size = e.size;
        row.fileTime = e.fileTime;
        row.attributes = e.attributes;
        model_->rows.push_back(std::move(row));
    };

    if (!reader.Ok()) {
        // The list says why it is empty and keeps the way back to the containing folder.
        listMessage_ = QString::fromLocal8Bit(std::strerror(reader.Error()));
        if (!showFolders_ || !parentDirEnabled_ || isRoot) return;
        TDirEntry up;
        up.native = QByteArrayLiteral("..");
        up.name = QStringLiteral("..");
        up.attributes = faDirectory;
        const QString trimmed = DropSlash(folder);
        struct stat st {};
        if (::stat(QFile::encodeName(trimmed.left(trimmed.lastIndexOf(u'/') + 1)).constData(),
                   &st) == 0)
            up.fileTime = static_cast<qint64>(st.st_mtim.tv_sec) * 10000000LL +
                          static_cast<qint64>(st.st_mtim.tv_nsec) / 100 + kFileTimeUnixEpoch;
        append(up, true);
        return;
    }
    std::vector<TDirEntry>& entries = reader.Entries();

    // One pass over the folder's listing per pattern, on the listing read once.
    if (showFolders_) {
        const quint32 f = filter | faDirectory;
        for (TDirEntry& e : entries) {
            if (e.name == u".") continue;
            const bool dotDot = e.name == u"..";
            if (dotDot && (!parentDirEnabled_ || isRoot)) continue;
            if (!reader.IsFolder(e)) continue;
            reader.Stat(e);
            if (!e.exists || !PassesFilter(e.attributes, f)) continue;
            append(e, dotDot);
        }
    }

    QString masks = mask_.trimmed();
    if (masks.isEmpty()) masks = QStringLiteral("*.*");
    std::vector<TNamePattern> patterns;
    while (!masks.isEmpty()) {
        const qsizetype semicolon = masks.indexOf(u';');
        if (semicolon < 0) {
            patterns.emplace_back(masks);
            masks.clear();
        } else {
            patterns.emplace_back(masks.left(semicolon));
            masks.remove(0, semicolon + 1);
        }
    }
    bool needFolded = false;
    for (const TNamePattern& p : patterns)
        if (!p.MatchesAll() && !p.MatchesNone()) needFolded = true;
    if (needFolded)
        for (TDirEntry& e : entries)
            e.folded = e.name.toCaseFolded();

    for (const TNamePattern& pattern : patterns) {
        if (pattern.MatchesNone()) continue;
        for (TDirEntry& e : entries) {
            if (!pattern.Matches(e.folded.isNull() ? e.name : e.folded)) continue;
            if (e.name == u"." || e.name == u"..") continue;
            if (e.type == DT_DIR) continue;
            reader.Stat(e);
            if (!e.exists || !PassesFilter(e.attributes, filter)) continue;
            append(e, false);
        }
    }

    if (!sniffText_) return;
    int sniffed = 0;
    for (TDirEntry& e : entries) {
        if (sniffed >= MaxSniffed) break;
        // No dot after the first character: no extension (a leading dot names a hidden file).
        if (e.name.indexOf(u'.', 1) >= 0 || e.name.startsWith(u'.') || e.type == DT_DIR) continue;
        // Listed by a mask already.
        const QString& key = e.folded.isNull() ? e.name : e.folded;
        if (std::any_of(patterns.begin(), patterns.end(),
                        [&](const TNamePattern& p) { return p.Matches(key); }))
            continue;
        reader.Stat(e);
        if (!e.exists || (e.attributes & faDirectory) || !PassesFilter(e.attributes, filter))
            continue;
        ++sniffed;
        const QByteArray native = nativeFolder + e.native;
        const int fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (fd < 0) continue;
        struct stat st {};
        char head[4096];
        ssize_t got = -1;
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) got = ::pread(fd, head, sizeof head, 0);
        ::close(fd);
        if (got >= 0 && LooksLikeText(head, got)) append(e, false);
    }
}

void TKvFilelistView28::SetSniffText(bool value) {
    if (value == sniffText_) return;
    sniffText_ = value;
    RebuildList();
}

bool TKvFilelistView28::LooksLikeText(const char* data, qsizetype size) {
    if (size >= 2 && ((uchar(data[0]) == 0xFF && uchar(data[1]) == 0xFE) ||
                      (uchar(data[0]) == 0xFE && uchar(data[1]) == 0xFF)))
        return true;
    qsizetype control = 0;
    for (qsizetype i = 0; i < size; ++i) {
        const uchar c = uchar(data[i]);
        if (c == 0) return false;
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f' && c != 0x1B) ++control;
    }
    return control * 50 <= size;
}

// --- Sorting ---------------------------------------------------------------------------------

namespace {

int Sign(int value) {
    return value < 0 ? -1 : value > 0 ? 1 : 0;
}
int Compare64(qint64 a, qint64 b) {
    return a < b ? -1 : a > b ? 1 : 0;
}

}  // namespace

QCollator TKvFilelistView28::NameCollator() {
    QCollator collator{QLocale()};
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    collator.setIgnorePunctuation(false);
    return collator;
}

namespace {

// The C and POSIX locales (LANG=C.UTF-8 on minimal systems and in containers) have no
// collation: Qt's collator then compares code points, without numbers by value, and puts "Ä"
// after "z". Names are then ordered by FallbackNameKey instead.
bool LocaleHasCollation() {
    return QLocale().language() != QLocale::C;
}

// A name as the fallback order reads it: letters without their accents, case folded ("Äpfel"
// reads as "apfel").
QString FallbackNameKey(const QString& name) {
    const QString decomposed = name.normalized(QString::NormalizationForm_D);
    QString key;
    key.reserve(decomposed.size());
    for (const QChar c : decomposed)
        if (c.category() != QChar::Mark_NonSpacing) key.append(c);
    return key.toCaseFolded();
}

// Compares two names with runs of digits by their value ("9" before "10"), everything else by
// code point.
int CompareNatural(const QString& a, const QString& b) {
    qsizetype i = 0, j = 0;
    const qsizetype n = a.size(), m = b.size();
    while (i < n && j < m) {
        if (a[i].isDigit() && b[j].isDigit() && a[i].unicode() < 0x80 && b[j].unicode() < 0x80) {
            qsizetype ei = i, ej = j;
            while (ei < n && a[ei].unicode() >= u'0' && a[ei].unicode() <= u'9')
                ++ei;
            while (ej < m && b[ej].unicode() >= u'0' && b[ej].unicode() <= u'9')
                ++ej;
            qsizetype si = i, sj = j;
            while (si + 1 < ei && a[si] == u'0')
                ++si;
            while (sj + 1 < ej && b[sj] == u'0')
                ++sj;
            // More significant digits is the larger number; else digit by digit.
            if (ei - si != ej - sj) return ei - si < ej - sj ? -1 : 1;
            for (qsizetype k = 0; k < ei - si; ++k)
                if (a[si + k] != b[sj + k]) return a[si + k] < b[sj + k] ? -1 : 1;
            i = ei;
            j = ej;
            continue;
        }
        if (a[i] != b[j]) return a[i] < b[j] ? -1 : 1;
        ++i;
        ++j;
    }
    return i < n ? 1 : j < m ? -1 : 0;
}

// The fallback order on keys made once per name: letters alike, then accents, then case.
int CompareFallback(const QString& keyA, const QString& a, const QString& keyB, const QString& b) {
    if (const int c = CompareNatural(keyA, keyB)) return c;
    if (const int c = CompareNatural(a.toCaseFolded(), b.toCaseFolded())) return c;
    return Sign(QString::compare(a, b, Qt::CaseSensitive));
}

}  // namespace

int TKvFilelistView28::CompareNames(const QString& a, const QString& b) {
    if (!LocaleHasCollation()) return CompareFallback(FallbackNameKey(a), a, FallbackNameKey(b), b);
    if (const int c = NameCollator().compare(a, b)) return Sign(c);
    return Sign(QString::compare(a, b, Qt::CaseSensitive));
}

void TKvFilelistView28::SortRows() {
    std::vector<TListRow>& rows = model_->rows;
    const int column = sortColumn_;
    const bool reverse = sortReverse_;
    TFileListModel* model = model_.get();

    // Names compare as people read them: numbers by their value ("9" before "10") and letters
    // by the user's locale ("Ärger" before "Z"), letter case aside; names equal that way keep a
    // fixed order by their characters.
    const QCollator collator = NameCollator();
    // Without a collation in the locale, every name's key is made once for the whole sort.
    const bool collates = LocaleHasCollation();
    std::vector<QString> keys;
    if (!collates && column == 0) {
        keys.reserve(rows.size());
        for (const TListRow& row : rows)
            keys.push_back(FallbackNameKey(row.caption));
    }
    auto compare = [model, column, &rows, &collator, &keys](int i, int j) -> int {
        const TListRow& a = rows[i];
        const TListRow& b = rows[j];
        const bool aDir = a.kind == rkDir, bDir = b.kind == rkDir;
        if (aDir && !bDir) return -1;
        if (bDir && !aDir) return 1;
        switch (column) {
            case 0:
                if (!keys.empty())
                    return CompareFallback(keys[size_t(i)], a.caption, keys[size_t(j)], b.caption);
                if (const int c = collator.compare(a.caption, b.caption)) return Sign(c);
                return Sign(QString::compare(a.caption, b.caption, Qt::CaseSensitive));
            case 1:
                return Compare64(model->SizeNumber(a), model->SizeNumber(b));
            case 3:
                return Compare64(a.fileTime, b.fileTime);
            case 2:
            case 4:
                return QString::compare(model->SubItem(i, column - 1),
                                        model->SubItem(j, column - 1), Qt::CaseInsensitive);
        }
        return 0;
    };

    // The reversed order turns every comparison round except those with the parent row, which
    // therefore stays in front of the files that a reversed order puts first. It is placed on
    // its own so that the order stays consistent for any column.
    std::vector<int> order;
    order.reserve(rows.size());
    int parentRow = -1;
    for (int i = 0; i < static_cast<int>(rows.size()); ++i) {
        if (rows[i].parent && parentRow < 0)
            parentRow = i;
        else
            order.push_back(i);
    }
    std::stable_sort(order.begin(), order.end(), [&](int i, int j) {
        const int c = compare(i, j);
        return reverse ? c > 0 : c < 0;
    });
    if (parentRow >= 0) {
        auto at = order.begin();
        if (!reverse)
            at = std::partition_point(order.begin(), order.end(),
                                      [&](int i) { return compare(i, parentRow) < 0; });
        order.insert(at, parentRow);
    }
    if (filling_) {
        // Inside a fill the model is being reset anyway: just put the rows in order.
        std::vector<TListRow> sorted;
        sorted.reserve(rows.size());
        for (int i : order)
            sorted.push_back(std::move(rows[i]));
        rows.swap(sorted);
    } else {
        model_->Reorder(order);
    }
}

void TKvFilelistView28::ColumnClick(int column) {
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

void TKvFilelistView28::UpdateSortIndicator() {
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

int TKvFilelistView28::ItemCount() const {
    return model_->rowCount();
}

QString TKvFilelistView28::ItemCaption(int row) const {
    return row >= 0 && row < ItemCount() ? model_->rows[row].caption : QString();
}

int TKvFilelistView28::ItemImageIndex(int row) const {
    return row >= 0 && row < ItemCount() ? model_->Image(row) : -1;
}

int TKvFilelistView28::ItemSubItemCount(int row) const {
    return row >= 0 && row < ItemCount() ? model_->SubItemCount(row) : 0;
}

QString TKvFilelistView28::ItemSubItem(int row, int index) const {
    if (row < 0 || row >= ItemCount() || index < 0 || index >= model_->SubItemCount(row)) return {};
    return model_->SubItem(row, index);
}

QByteArray TKvFilelistView28::ItemNativePath(int row) const {
    if (row < 0 || row >= ItemCount()) return {};
    const TListRow& r = model_->rows[row];
    return r.native.isEmpty() ? QFile::encodeName(r.path) : r.native;
}

QList<QByteArray> TKvFilelistView28::NeighbourPictures(int row) const {
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

QByteArray TKvFilelistView28::SelectedItemNative() const {
    return selectedNative_.isEmpty() ? QFile::encodeName(selectedItem_) : selectedNative_;
}

bool TKvFilelistView28::ItemSelected(int row) const {
    return row >= 0 && row < ItemCount() && selection_->isRowSelected(row, QModelIndex());
}

void TKvFilelistView28::SetItemSelected(int row, bool selected) {
    if (row < 0 || row >= ItemCount()) return;
    auto flags = (selected ? QItemSelectionModel::Select : QItemSelectionModel::Deselect) |
                 QItemSelectionModel::Rows;
    if (selected && !multiSelect_) flags |= QItemSelectionModel::Clear;
    selection_->select(model_->index(row, 0), flags);
}

bool TKvFilelistView28::ItemFocused(int row) const {
    return row >= 0 && selection_->currentIndex().row() == row;
}

void TKvFilelistView28::SetItemFocused(int row) {
    if (row < 0 || row >= ItemCount()) return;
    selection_->setCurrentIndex(model_->index(row, 0), QItemSelectionModel::NoUpdate);
}

void TKvFilelistView28::SelectAll() {
    if (ItemCount() == 0) return;
    if (multiSelect_) {
        View()->selectAll();
    } else {
        // A single-selection list keeps the last row it was told to select.
        SetItemSelected(ItemCount() - 1, true);
    }
}

int TKvFilelistView28::FirstSelectedRow() const {
    const QList<int> rows = SelectedRows();
    return rows.isEmpty() ? -1 : rows.first();
}

QList<int> TKvFilelistView28::SelectedRows() const {
    QList<int> rows;
    for (const QModelIndex& index : selection_->selectedRows())
        rows.append(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

QAbstractItemView* TKvFilelistView28::View() const {
    if (viewStyle_ == vsReport) return tree_;
    return list_;
}

QHeaderView* TKvFilelistView28::Header() const {
    return tree_->header();
}

// --- Clicks and navigation -------------------------------------------------------------------

void TKvFilelistView28::Click() {
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

void TKvFilelistView28::HandleDblClick() {
    const int row = FirstSelectedRow();
    if (row < 0 || model_->rows[row].caption.isEmpty()) return;
    if (dblClickToOpen_)
        OpenSelected();
    else if (model_->rows[row].parent)
        GoToParent();
    else
        emit OnDblClick(this);
}

void TKvFilelistView28::OpenSelected() {
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

void TKvFilelistView28::GoToParent() {
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

bool TKvFilelistView28::HandleKeyDown(QKeyEvent* event) {
    const Qt::KeyboardModifiers mods =
        event->modifiers() &
        (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    const bool none = mods == Qt::NoModifier;
    const bool ctrl = mods == Qt::ControlModifier;
    const bool hasSelection = FirstSelectedRow() >= 0;
    const int key = event->key();
    bool action = true;
    if (KeyDownFilter && KeyDownFilter(key, mods)) return true;

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
    } else if (const int fileKey = HandleFileKey(event)) {
        if (fileKey == 2) return true;  // not passed on
    } else {
        action = false;
    }
    emit OnKeyDown(this, key, mods);
    return action;
}

void TKvFilelistView28::HandleKeyUp(QKeyEvent* event) {
    if (event->isAutoRepeat()) return;
    const bool moved = keyMoved_;
    keyMoved_ = false;
    if (moved || event->key() == Qt::Key_Up || event->key() == Qt::Key_Down) Click();
}

// --- Parent icon -----------------------------------------------------------------------------

void TKvFilelistView28::EnsureParentIcon() {
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
