// The file list's file operations: copy, cut and paste through the transfer list and the
// clipboard, dropped files, delete to the trash and for good, rename in place, new folder,
// viewing, properties, and the send-to actions. The menu (TFileListMenu) and the keys
// call them.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QPointer>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <iterator>

#include "browse/FileClipboard.h"
#include "browse/FileListMenu.h"
#include "browse/FileListView.h"
#include "browse/FolderComboLink.h"
#include "browse/MessageCatalogue.h"
#include "browse/SendToDialog.h"
#include "browse/ShellHelpers.h"
#include "toolkit/Application.h"

namespace {

// The extension of a path's last name in upper case, with its dot (".TXT"); empty when none.
QString UpperExtension(const QString& path) {
    const QString name = LastName(path);
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot >= 0 ? name.mid(dot).toUpper() : QString();
}

// The caption editor: Enter ends the edit and renames, Esc ends it without renaming, and so
// does leaving it (as the list's own edits do).
class TCaptionEditor : public QLineEdit {
  public:
    TCaptionEditor(TFileListView* list, QWidget* parent) : QLineEdit(parent), list_(list) {
        setObjectName(QStringLiteral("CaptionEditor"));
    }

  protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
            list_->EndEditCaption(true);
            return;
        }
        if (event->key() == Qt::Key_Escape) {
            list_->EndEditCaption(false);
            return;
        }
        QLineEdit::keyPressEvent(event);
    }
    void focusOutEvent(QFocusEvent* event) override {
        QLineEdit::focusOutEvent(event);
        if (event->reason() != Qt::PopupFocusReason) list_->EndEditCaption(true);
    }

  private:
    TFileListView* list_;
};

// Watches the list for a changed owner window and for right clicks (the own menu), and every
// widget of the owner window for dropped files.
class TListEventHook : public QObject {
  public:
    explicit TListEventHook(TFileListView* list) : QObject(list), list_(list) {
        list->installEventFilter(this);
        editTimer_.setSingleShot(true);
        connect(&editTimer_, &QTimer::timeout, this, [this] { SlowClickElapsed(); });
        Attach();
    }

    void Attach() {
        QWidget* owner = list_->window();
        if (owner == window_) return;
        window_ = owner;
        if (window_ == nullptr) return;
        window_->setAcceptDrops(true);
        // Drags reach the widget under the pointer (a read-only memo refuses files), so the
        // drags of every widget of the window are looked at before they are delivered.
        if (!appFilter_) {
            qApp->installEventFilter(this);
            appFilter_ = true;
        }
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonRelease:
            case QEvent::MouseButtonDblClick:
                // Every widget's mouse events pass here; only the list's views count.
                if (QAbstractItemView* view = ViewOfViewport(watched)) SlowClick(view, event);
                return false;
            case QEvent::ParentChange:
            case QEvent::Show:
                if (watched == list_) Attach();
                return false;
            case QEvent::ContextMenu: {
                // A menu the owner put on the list takes the place of the own one.
                if (watched != list_ || !list_->PopUpMenuEnabled() || list_->PopUp() == nullptr ||
                    list_->contextMenuPolicy() == Qt::CustomContextMenu)
                    return false;
                if (list_->Directory().compare(QLatin1String(TFileListView::DrivesDirectory),
                                               Qt::CaseInsensitive) == 0)
                    return false;
                auto* menuEvent = static_cast<QContextMenuEvent*>(event);
                list_->PopUp()->Popup(menuEvent->globalPos());
                return true;
            }
            case QEvent::DragEnter:
            case QEvent::DragMove: {
                if (!InWindow(watched)) return false;
                auto* drag = static_cast<QDragMoveEvent*>(event);
                if (ReadFileList(drag->mimeData()).Paths.isEmpty()) return false;
                drag->setDropAction(Qt::CopyAction);
                drag->accept();
                return true;
            }
            case QEvent::Drop: {
                if (!InWindow(watched)) return false;
                auto* drop = static_cast<QDropEvent*>(event);
                const QList<QByteArray> paths = ReadFileList(drop->mimeData()).Native;
                if (paths.isEmpty()) return false;
                drop->setDropAction(Qt::CopyAction);
                drop->accept();
                list_->DropFiles(paths);
                return true;
            }
            default:
                return false;
        }
    }

  private:
    // The list's view whose viewport this is, or null.
    QAbstractItemView* ViewOfViewport(QObject* watched) const {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget == nullptr || widget->parentWidget() == nullptr) return nullptr;
        auto* view = qobject_cast<QAbstractItemView*>(widget->parentWidget());
        return view != nullptr && view->viewport() == widget && view->parentWidget() == list_
                   ? view
                   : nullptr;
    }

    // The in-place editing gesture: a second, slow click on the caption of the one selected
    // row (a double-click is no such click).
    void SlowClick(QAbstractItemView* view, QEvent* event) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        switch (event->type()) {
            case QEvent::MouseButtonPress: {
                pendingRow_ = -1;
                editTimer_.stop();
                if (mouse->button() != Qt::LeftButton || mouse->modifiers() != Qt::NoModifier ||
                    list_->ReadOnly() || list_->EditingCaption())
                    return;
                const int row = view->indexAt(mouse->position().toPoint()).row();
                if (row >= 0 && list_->ItemSelected(row) && list_->SelectedNumber() == 1)
                    pendingRow_ = row;
                return;
            }
            case QEvent::MouseButtonRelease:
                if (pendingRow_ >= 0 &&
                    view->indexAt(mouse->position().toPoint()).row() == pendingRow_)
                    editTimer_.start(QApplication::doubleClickInterval() + 20);
                return;
            case QEvent::MouseButtonDblClick:
                pendingRow_ = -1;
                editTimer_.stop();
                return;
            default:
                return;
        }
    }
    void SlowClickElapsed() {
        const int row = pendingRow_;
        pendingRow_ = -1;
        if (row < 0 || row >= list_->ItemCount() || !list_->ItemSelected(row) || list_->ReadOnly())
            return;
        if (list_->ItemSubItem(row, 4).endsWith(QLatin1String("/..")) ||
            list_->ItemSubItem(row, 5) == QLatin1String(TFileListView::KindDrive))
            return;
        list_->BeginEditCaption(row);
    }

    bool InWindow(QObject* watched) const {
        auto* widget = qobject_cast<QWidget*>(watched);
        return widget != nullptr && window_ != nullptr && widget->window() == window_;
    }

    TFileListView* list_;
    QPointer<QWidget> window_;
    bool appFilter_ = false;
    QTimer editTimer_;
    int pendingRow_ = -1;
};

}  // namespace

// --- Set-up ------------------------------------------------------------------------------------

void TFileListView::RebuildPopUp() {
    delete popUp_;
    popUp_ = new TFileListMenu(this, language_);
}

void TFileListView::HookOwnerForDrops() {
    if (dropHook_ == nullptr) dropHook_ = new TListEventHook(this);
}

// --- Helpers -----------------------------------------------------------------------------------

bool TFileListView::RowIsParent(int row) const {
    return ItemSubItem(row, 4).endsWith(QLatin1String("/.."));
}

QList<QByteArray> TFileListView::TakeSelectedPaths() {
    QList<QByteArray> paths;
    for (int row : SelectedRows()) {
        if (RowIsParent(row)) {
            SetItemSelected(row, false);
            continue;
        }
        paths.append(ItemNativePath(row));
    }
    return paths;
}

QStringList TFileListView::TransferList() const {
    QStringList paths;
    for (const QByteArray& path : transfer_)
        paths.append(QFile::decodeName(path));
    return paths;
}

void TFileListView::ForgetDeletedItem() {
    if (selectedItem_.isEmpty()) return;
    struct stat st {};
    if (::lstat(SelectedItemNative().constData(), &st) == 0) return;
    // Renamed by another program: the same file under a new name in the rows.
    if (selectedInode_ != 0) {
        for (int row = 0; row < ItemCount(); ++row) {
            if (ItemSubItem(row, 5) != QLatin1String(KindFile)) continue;
            if (::stat(ItemNativePath(row).constData(), &st) != 0 ||
                quint64(st.st_dev) != selectedDevice_ || quint64(st.st_ino) != selectedInode_)
                continue;
            const QString old = selectedItem_;
            const quint64 device = selectedDevice_, inode = selectedInode_;
            SetSelectedItem(ItemSubItem(row, 4));
            selectedNative_ = ItemNativePath(row);
            selectedDevice_ = device;
            selectedInode_ = inode;
            SetItemSelected(row, true);
            SetItemFocused(row);
            emit OnItemRenamed(this, old, selectedItem_);
            return;
        }
    }
    SetSelectedItem(QString());
    emit OnItemChange(this, selectedItem_);
    emit OnClick(this);
}

void TFileListView::RefreshAfterChange(const QString& comboFolder) {
    RebuildList();
    if (dirTreeCombo_ != nullptr) {
        dirTreeCombo_->ReloadTree();
        dirTreeCombo_->SelectFolder(comboFolder);
    }
}

bool TFileListView::HasViewer(const QString& path) {
    static const QStringList extensions = {".C",   ".CPP", ".DPK", ".DPR", ".H",   ".INF",
                                           ".INI", ".PAS", ".PRG", ".TXT", ".DOC", ".RTF",
                                           ".WRI", ".BMP", ".GIF", ".JPG"};
    const QString ext = UpperExtension(path);
    return !ext.isEmpty() && extensions.contains(ext);
}

bool TFileListView::CanPaste() const {
    return ClipboardHasFileList();
}

// --- Copy, cut, paste, drop --------------------------------------------------------------------

void TFileListView::CopySelected() {
    if (FirstSelectedRow() < 0) return;
    transfer_ = TakeSelectedPaths();
    PutFileListOnClipboard(transfer_, false);
    UpdateCutMarks();
}

void TFileListView::CutSelected() {
    if (FirstSelectedRow() < 0) return;
    transfer_ = TakeSelectedPaths();
    PutFileListOnClipboard(transfer_, true);
    UpdateCutMarks();
}

void TFileListView::PasteFiles() {
    THourglass hourglass;
    if (!CanTransferHere()) return;
    // The clipboard decides what is pasted and how: whatever this program copied or cut before
    // counts only while the clipboard still holds it, and only a list that says "cut" is moved
    // (a plain URL list, as many programs write it, is a copy).
    const TFileList clip = ClipboardFileList();
    const bool move = clip.HasMode && clip.Cut;
    if (clip.Native.isEmpty()) {
        transfer_.clear();
        ShowBrowseMessage(mkWarning, MessageText(msgNoFilesSelected), this);
        return;
    }
    TransferInto(clip.Native, move);
}

void TFileListView::TransferInto(const QList<QByteArray>& paths, bool move) {
    transfer_ = paths;
    const QByteArray target = QFile::encodeName(AddSlash(directory_));
    QList<QByteArray> sources;
    for (const QByteArray& entry : transfer_) {
        const QByteArray source =
            entry.size() > 1 && entry.endsWith('/') ? entry.chopped(1) : entry;
        // Pasting into the folder the entry is in would copy it onto itself.
        if (source.left(source.lastIndexOf('/') + 1) == target) {
            ShowBrowseMessage(
                mkError,
                QCoreApplication::translate("ShellFileOp",
                                            "Cannot paste \"%1\": it is already in this folder.")
                    .arg(LastName(QFile::decodeName(source))),
                this);
            continue;
        }
        sources.append(source);
    }
    // One operation for all entries, so that "No to All" and "Cancel" answer for the whole
    // paste or drop.
    if (!sources.isEmpty()) ShellFileOp(move ? foMove : foCopy, sources, QList<QByteArray>{target});
    if (move) {
        // The cut stays on the clipboard for whatever did not move (refused, skipped, failed).
        QList<QByteArray> left;
        struct stat st {};
        for (const QByteArray& entry : transfer_)
            if (::lstat(entry.constData(), &st) == 0) left.append(entry);
        if (left.isEmpty())
            ClearClipboardFileList();
        else
            PutFileListOnClipboard(left, true);
    }
    transfer_.clear();
    RefreshAfterChange(directory_);
}

bool TFileListView::CanTransferHere() const {
    struct stat st {};
    return !IsDrivesDirectory(directory_) &&
           ::stat(QFile::encodeName(directory_).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

void TFileListView::DropFiles(const QStringList& paths) {
    QList<QByteArray> native;
    for (const QString& path : paths)
        native.append(QFile::encodeName(path));
    DropFiles(native);
}

void TFileListView::DropFiles(const QList<QByteArray>& paths) {
    if (paths.isEmpty()) return;
    THourglass hourglass;
    if (!CanTransferHere()) return;
    FileTransferMode() = tmCopy;
    TransferInto(paths, false);
}

// --- Delete ------------------------------------------------------------------------------------

QString TFileListView::SuccessorOfSelection() const {
    const QList<int> rows = SelectedRows();
    if (rows.isEmpty()) return QString();
    for (int row = rows.last() + 1; row < ItemCount(); ++row)
        if (!rows.contains(row)) return ItemSubItem(row, 4);
    for (int row = rows.first() - 1; row >= 0; --row)
        if (!rows.contains(row) && !RowIsParent(row)) return ItemSubItem(row, 4);
    return QString();
}

void TFileListView::ShowSuccessorIfDeleted(const QString& successor) {
    struct stat st {};
    if (!selectedItem_.isEmpty() && ::lstat(SelectedItemNative().constData(), &st) != 0) {
        // The shown entry went: the row that took its place is shown next, as viewers do.
        for (int row = 0; row < ItemCount() && !successor.isEmpty(); ++row) {
            if (ItemSubItem(row, 4) != successor) continue;
            selection_->clearSelection();
            SetItemSelected(row, true);
            SetItemFocused(row);
            Click();
            return;
        }
    }
    ForgetDeletedItem();
}

void TFileListView::DeleteSelected() {
    if (FirstSelectedRow() < 0) return;
    THourglass hourglass;
    if (!CanTransferHere()) return;
    transfer_.clear();
    const QString successor = SuccessorOfSelection();
    const QList<QByteArray> paths = TakeSelectedPaths();
    if (!paths.isEmpty()) ShellFileOp(foDelete, paths, {});
    RefreshAfterChange(directory_);
    transfer_.clear();
    ShowSuccessorIfDeleted(successor);
}

bool TFileListView::DeleteSelectedPermanently() {
    const QList<int> rows = SelectedRows();
    if (rows.isEmpty()) return false;
    THourglass hourglass;
    const QString successor = SuccessorOfSelection();
    bool all = true;
    for (int row : rows) {
        if (ItemSubItem(row, 5).compare(QLatin1String(KindDir), Qt::CaseInsensitive) == 0) {
            all = false;  // folders are never deleted this way
            break;
        }
        const QString text =
            QStringLiteral("Are you sure you want to permanently delete file\n  \"") +
            ItemCaption(row) + QStringLiteral("\"?");
        // No is the default: Enter must not destroy a file for good.
        if (ShowBrowseMessage(mkConfirmation, text, this, true) &&
            ::unlink(ItemNativePath(row).constData()) != 0 && errno != ENOENT)
            ShowBrowseMessage(
                mkError,
                QCoreApplication::translate("ShellFileOp", "Cannot delete \"%1\": %2")
                    .arg(ItemCaption(row), QString::fromLocal8Bit(std::strerror(errno))),
                this);
        SetItemSelected(row, false);
    }
    RebuildList();
    ShowSuccessorIfDeleted(successor);
    return all;
}

// --- Rename and new folder ---------------------------------------------------------------------

void TFileListView::RenameSelected() {
    if (readOnly_) {
        // The list itself does not rename: say so, not that some file were read-only.
        ShowBrowseMessage(
            mkWarning,
            QCoreApplication::translate("TFileListView",
                                        "Files cannot be renamed in this list: it is read-only."),
            this);
        return;
    }
    const int row = FirstSelectedRow();
    if (row < 0) return;
    if (ItemSubItem(row, 3).toUpper() == QLatin1String("R")) {
        ShowBrowseMessage(mkWarning, MessageText(msgItsReadOnly), this);
        return;
    }
    if (RowIsParent(row)) return;
    BeginEditCaption(row);
}

void TFileListView::BeginEditCaption(int row) {
    if (readOnly_ || row < 0 || row >= ItemCount()) return;
    if (editor_ != nullptr) EndEditCaption(false);
    oldPath_ = ItemSubItem(row, 4);
    oldNative_ = ItemNativePath(row);
    editRow_ = row;
    QAbstractItemView* view = View();
    const QModelIndex index = view->model()->index(row, 0);
    view->scrollTo(index);
    QRect rect = view->visualRect(index);
    if (viewStyle_ == vsThumbnails) {
        // Over the name under the thumbnail.
        rect = ThumbnailCaptionRect(rect);
    } else {
        // Past the icon, at least as wide as the Name column.
        const int icon = view->iconSize().width() > 0 ? view->iconSize().width() + 6 : 22;
        rect.setLeft(rect.left() + icon);
        rect.setWidth(std::max(rect.width(), 120));
    }
    auto* editor = new TCaptionEditor(this, view->viewport());
    editor->setText(ItemCaption(row));
    // The name without its extension is selected, as file managers do.
    const qsizetype dot = ItemCaption(row).lastIndexOf(u'.');
    if (dot > 0 && ItemSubItem(row, 5) != QLatin1String(KindDir))
        editor->setSelection(0, static_cast<int>(dot));
    else
        editor->selectAll();
    editor->setGeometry(rect);
    editor->show();
    editor->setFocus();
    editor_ = editor;
}

bool TFileListView::EditingCaption() const {
    return editor_ != nullptr;
}

QLineEdit* TFileListView::CaptionEditor() const {
    return editor_;
}

void TFileListView::EndEditCaption(bool accept) {
    if (editor_ == nullptr) return;
    QLineEdit* editor = editor_;
    editor_ = nullptr;
    const QString caption = editor->text();
    const bool wasDir =
        ItemSubItem(editRow_, 4) == oldPath_ && ItemSubItem(editRow_, 5) == QLatin1String(KindDir);
    editor->hide();
    editor->deleteLater();
    View()->setFocus();
    if (!accept) return;

    THourglass hourglass;
    const QString folder = FolderOf(oldPath_);
    const QString newPath = folder + caption;
    // Names differ by letter case on this file system, so only an unchanged name is no rename.
    if (newPath == oldPath_) return;
    if (caption.isEmpty() || caption.contains(u'/') || caption == u"." || caption == u"..") {
        ShowBrowseMessage(mkError, MessageText(msgInvalidChars), this);
        return;
    }
    if (ReportIfExists(newPath)) return;
    // The old entry by its bytes: its text may name another entry.
    ShellFileOp(foRename, QList<QByteArray>{oldNative_},
                QList<QByteArray>{oldNative_.left(oldNative_.lastIndexOf('/') + 1) +
                                  QFile::encodeName(caption)});
    RebuildList();
    for (int row = 0; row < ItemCount(); ++row) {
        if (ItemSubItem(row, 4) != newPath) continue;
        SetItemSelected(row, true);
        SetItemFocused(row);
        break;
    }
    if (wasDir && dirTreeCombo_ != nullptr) {
        dirTreeCombo_->ReloadTree();
        dirTreeCombo_->SelectFolder(folder);
    }
}

void TFileListView::CreateFolder() {
    if (IsDrivesDirectory(directory_)) return;
    const QString base = JoinPath(directory_, MessageText(msgNewFolder));
    QString path = base;
    for (int n = 2; QFileInfo::exists(path) || QFileInfo(path).isSymLink(); ++n)
        path = base + u'(' + QString::number(n) + u')';
    QDir().mkdir(path);  // a failure shows as a missing row
    RebuildList();
    selection_->clearSelection();
    for (int row = 0; row < ItemCount(); ++row) {
        if (ItemSubItem(row, 4) != path) continue;
        SetItemSelected(row, true);
        SetItemFocused(row);
        oldPath_ = path;
        BeginEditCaption(row);
        break;
    }
    if (dirTreeCombo_ != nullptr) {
        dirTreeCombo_->ReloadTree();
        dirTreeCombo_->SelectFolder(path);
    }
}

// --- View and properties -----------------------------------------------------------------------

void TFileListView::ViewSelected() {
    const int row = FirstSelectedRow();
    if (row < 0) return;
    const QString path = ItemSubItem(row, 4);
    // The table's viewers are the desktop's default applications for the file's type.
    if (!HasViewer(path)) return;
    ShellLaunch(QStringLiteral("Open"), path, QString(), swShowNormal, FolderOf(path));
}

void TFileListView::ShowSelectedProperties() {
    const int row = FirstSelectedRow();
    if (row < 0) return;
    if (!ItemSubItem(row, 4).isEmpty()) ShowProperties(ItemNativePath(row));
}

// --- Send to -----------------------------------------------------------------------------------

void TFileListView::SendToAnyFolder() {
    if (FirstSelectedRow() < 0) return;
    QString path;
    if (TSendToDialog::Execute(path, this)) CopyToFolder(path);
}

void TFileListView::CopyToFolder(const QString& folder) {
    if (!CanTransferHere()) return;
    THourglass hourglass;
    transfer_ = TakeSelectedPaths();
    const QByteArray target = QFile::encodeName(AddSlash(folder));
    if (!transfer_.isEmpty()) ShellFileOp(foCopy, transfer_, QList<QByteArray>{target});
    transfer_.clear();
}

void TFileListView::CopyContentsToClipboard() {
    const int row = FirstSelectedRow();
    if (row < 0) return;
    const QByteArray path = ItemNativePath(row);
    const QString ext = UpperExtension(ItemSubItem(row, 4));
    QClipboard* clipboard = QApplication::clipboard();
    if (ext == QLatin1String(".BMP") || ext == QLatin1String(".WMF")) {
        try {
            const QImage image = LoadPictureForClipboard(path);
            if (!image.isNull()) clipboard->setImage(image);
        } catch (const std::exception& error) {
            ShowBrowseMessage(mkError, QString::fromLocal8Bit(error.what()), this);
        }
        return;
    }
    THourglass hourglass;
    QFile file;
    if (!OpenNativeFile(file, path, O_RDONLY, QIODevice::ReadOnly)) return;
    const QByteArray bytes = file.read(64 * 1024 * 1024);
    auto* data = new QMimeData;
    // Rich text goes on as it is besides its text; other files as 8-bit text.
    if (ext == QLatin1String(".RTF")) {
        data->setData(QStringLiteral("text/rtf"), bytes);
        data->setData(QStringLiteral("application/rtf"), bytes);
    }
    QString text = QString::fromUtf8(bytes);
    if (text.contains(QChar::ReplacementCharacter)) text = QString::fromLatin1(bytes);
    data->setText(text);
    clipboard->setMimeData(data);
}

void TFileListView::CopyNamesToClipboard() {
    QStringList paths;
    for (int row : SelectedRows())
        paths.append(ItemSubItem(row, 4));
    if (paths.isEmpty()) return;
    QApplication::clipboard()->setText(paths.join(QStringLiteral("\r\n")));
}

void TFileListView::CreateDesktopShortcut() {
    const int row = FirstSelectedRow();
    if (row < 0) {
        ShowBrowseMessage(mkError, MessageText(msgNoFilesSelected), this);
        return;
    }
    const QString target = ItemSubItem(row, 4);
    const QString description = NameWithoutExt(target);
    const QString desktop = SpecialFolder(sfDesktop);
    bool ok = !desktop.isEmpty() && !description.isEmpty() && QDir().mkpath(desktop);
    if (ok) {
        // A freedesktop link entry under a free name: an existing entry is never replaced.
        QByteArray text = "[Desktop Entry]\nVersion=1.0\nType=Link\n";
        text += "Name=" + description.toUtf8() + '\n';
        text += "Comment=" + description.toUtf8() + '\n';
        text += "URL=" + QUrl::fromLocalFile(target).toEncoded() + '\n';
        text += "Path=" + FolderOf(target).toUtf8() + '\n';
        text +=
            QByteArray("Icon=") + (QFileInfo(target).isDir() ? "folder" : "text-x-generic") + '\n';
        ok = false;
        for (int n = 1; n < 1000 && !ok; ++n) {
            const QString name =
                n == 1 ? description : description + QStringLiteral(" (%1)").arg(n);
            ok = WriteNewFile(QFile::encodeName(desktop + name + QStringLiteral(".desktop")), text,
                              0744);
            if (!ok && errno != EEXIST) break;
        }
    }
    if (!ok) ShowBrowseMessage(mkError, MessageText(msgSaveFailed), this);
}

void TFileListView::SendToShortcut(const QString& shortcutPath) {
    const int row = FirstSelectedRow();
    if (row < 0) return;
    QString target;
    bool program = false;
    if (shortcutPath.endsWith(QLatin1String(".desktop"), Qt::CaseInsensitive)) {
        QSettings entry(shortcutPath, QSettings::IniFormat);
        entry.beginGroup(QStringLiteral("Desktop Entry"));
        const QString type = entry.value(QStringLiteral("Type")).toString();
        if (type == QLatin1String("Application")) {
            QVariant exec = entry.value(QStringLiteral("Exec"));
            const QString command = exec.typeId() == QMetaType::QStringList
                                        ? exec.toStringList().join(u',')
                                        : exec.toString();
            const QStringList words = QProcess::splitCommand(command);
            if (!words.isEmpty()) {
                target = words.first();
                if (!target.contains(u'/')) target = QStandardPaths::findExecutable(target);
                program = true;
            }
        } else {
            const QString url = entry.value(QStringLiteral("URL")).toString();
            target = url.startsWith(u'/') ? url : QUrl(url).toLocalFile();
        }
    } else {
        const QFileInfo info(shortcutPath);
        target = info.isSymLink() ? info.symLinkTarget() : QString();
        if (target.isEmpty() && info.isDir()) target = shortcutPath;
    }
    if (target.isEmpty()) return;
    const QFileInfo info(target);
    if (!program && info.isDir()) {
        THourglass hourglass;
        const QString folder = AddSlash(target);
        const int kind = MountedDriveKind(folder);
        if ((kind == dkRemovable || kind == dkCDRom) && !DiskReady(folder, true)) return;
        CopyToFolder(folder);
        return;
    }
    // A program that takes the file.
    ShellLaunchWithFile(target, ItemNativePath(row));
}

// --- Commands of a window's menu --------------------------------------------------------------

bool TFileListView::ActionEnabled(TListAction action) const {
    const QList<int> rows = SelectedRows();
    const bool inFolder = !IsDrivesDirectory(directory_);
    bool transferable = false;  // a selected row other than the parent row
    for (int row : rows)
        if (!RowIsParent(row)) transferable = true;
    const auto writable = [this, inFolder] {
        return inFolder && ::access(QFile::encodeName(directory_).constData(), W_OK) == 0;
    };
    switch (action) {
        case laOpen:
            return !rows.isEmpty();
        case laProperties:
            return transferable;
        case laCut:
        case laCopy:
        case laDelete:
            return inFolder && transferable;
        case laDeletePermanently:
            // It stops at the first folder, so it can act only when the first row is a file.
            return inFolder && !rows.isEmpty() &&
                   ItemSubItem(rows.first(), 5) == QLatin1String(KindFile);
        case laPaste:
            return writable() && CanPaste();
        case laNewFolder:
            return writable();
    }
    return false;
}

void TFileListView::RunAction(TListAction action) {
    if (!ActionEnabled(action)) return;
    switch (action) {
        case laOpen:
            OpenSelected();
            break;
        case laCut:
            CutSelected();
            break;
        case laCopy:
            CopySelected();
            break;
        case laPaste:
            PasteFiles();
            break;
        case laDelete:
            DeleteSelected();
            break;
        case laDeletePermanently:
            DeleteSelectedPermanently();
            break;
        case laNewFolder:
            CreateFolder();
            break;
        case laProperties:
            ShowSelectedProperties();
            break;
    }
}

QKeySequence TFileListView::ActionKey(TListAction action) {
    // Indexed by TListAction.
    static constexpr QKeyCombination kKeys[] = {
        Qt::Key_Return, Qt::CTRL | Qt::Key_X,       Qt::CTRL | Qt::Key_C, Qt::CTRL | Qt::Key_V,
        Qt::Key_Delete, Qt::SHIFT | Qt::Key_Delete, Qt::CTRL | Qt::Key_N, Qt::ALT | Qt::Key_Return,
    };
    if (unsigned(action) >= std::size(kKeys)) return {};
    return QKeySequence(kKeys[action]);
}

// --- Keys --------------------------------------------------------------------------------------

int TFileListView::HandleFileKey(int key, Qt::KeyboardModifiers mods) {
    const bool none = mods == Qt::NoModifier;
    const bool ctrl = mods == Qt::ControlModifier;
    const bool shift = mods == Qt::ShiftModifier;
    const bool hasSelection = FirstSelectedRow() >= 0;
    // A key of a command: not taken without its modifiers; taken, and the command run when it
    // can act now, with them.
    const auto command = [this](bool modifiersMatch, bool canAct, void (TFileListView::*run)()) {
        if (!modifiersMatch) return 0;
        if (canAct) (this->*run)();
        return 1;
    };
    switch (key) {
        case Qt::Key_C:
            return command(ctrl, hasSelection, &TFileListView::CopySelected);
        case Qt::Key_X:
            return command(ctrl, hasSelection, &TFileListView::CutSelected);
        case Qt::Key_V:
            return command(ctrl, CanPaste(), &TFileListView::PasteFiles);
        case Qt::Key_N:
            return command(ctrl, !IsDrivesDirectory(directory_), &TFileListView::CreateFolder);
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return command(mods == Qt::AltModifier, hasSelection,
                           &TFileListView::ShowSelectedProperties);
        case Qt::Key_F2:
            return command(none, hasSelection, &TFileListView::RenameSelected);
        case Qt::Key_Delete:
            if (none) {
                if (hasSelection) DeleteSelected();
                return 1;
            }
            if (!shift) return 0;
            if (!hasSelection) return 2;
            return DeleteSelectedPermanently() ? 1 : 2;
        default:
            return 0;
    }
}
