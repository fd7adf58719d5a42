// Copy, move, rename and delete-to-trash for the file-browsing components, with our own
// confirmation, conflict and progress dialogs.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QStandardPaths>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "browse/ShellHelpers.h"

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("ShellFileOp", text);
}

TFileOpPrompts defaultPrompts() {
    TFileOpPrompts p;
    p.ConfirmDelete = [](const QStringList& items) {
        const QString text =
            items.size() == 1
                ? tr("Are you sure you want to move \"%1\" to the Trash?").arg(LastName(items[0]))
                : tr("Are you sure you want to move these %1 items to the Trash?")
                      .arg(items.size());
        return ShowBrowseMessage(mkConfirmation, text);
    };
    p.Conflict = [](const QString& source, const QString& target) {
        QMessageBox box(QApplication::activeWindow());
        box.setWindowTitle(tr("Confirm Replace"));
        box.setIcon(QMessageBox::Question);
        const bool folder = QFileInfo(target).isDir();
        const bool merge = folder && QFileInfo(source).isDir();
        box.setText((folder ? tr("This folder already contains a folder named \"%1\".")
                            : tr("This folder already contains a file named \"%1\"."))
                        .arg(LastName(target)) +
                    QStringLiteral("\n\n") +
                    (merge ? tr("Do you want to merge \"%1\" into it?")
                           : tr("Do you want to replace it with \"%1\"?"))
                        .arg(source));
        QPushButton* yes = box.addButton(QMessageBox::Yes);
        QPushButton* yesAll = box.addButton(QMessageBox::YesToAll);
        QPushButton* no = box.addButton(QMessageBox::No);
        QPushButton* noAll = box.addButton(QMessageBox::NoToAll);
        box.addButton(QMessageBox::Cancel);
        box.setDefaultButton(yes);
        box.exec();
        if (box.clickedButton() == yes) return caReplace;
        if (box.clickedButton() == yesAll) return caReplaceAll;
        if (box.clickedButton() == no) return caSkip;
        if (box.clickedButton() == noAll) return caSkipAll;
        return caCancel;
    };
    p.ConfirmPermanentDelete = [](const QString& path) {
        return ShowBrowseMessage(
            mkConfirmation,
            tr("\"%1\" can't be moved to the Trash.\n\nDo you want to delete it permanently?")
                .arg(LastName(path)),
            nullptr, true);
    };
    p.Error = [](const QString& message) { ShowBrowseMessage(mkError, message); };
    return p;
}

TFileOpPrompts& prompts() {
    static TFileOpPrompts instance = defaultPrompts();
    return instance;
}

// Paths here are the bytes the file system names entries by: a name that is not valid in the
// locale's encoding loses bytes in a QString, and the lossy text may name another entry.
QString shown(const QByteArray& path) {
    return QFile::decodeName(path);
}

QByteArray AddSlash(const QByteArray& path) {
    return path.isEmpty() || path.endsWith('/') ? path : path + '/';
}
QByteArray DropSlash(const QByteArray& path) {
    return path.endsWith('/') ? path.chopped(1) : path;
}
QByteArray JoinPath(const QByteArray& folder, const QByteArray& name) {
    return folder.isEmpty() || name.isEmpty() ? QByteArray() : AddSlash(folder) + name;
}
QByteArray LastName(const QByteArray& path) {
    const QByteArray bare = DropSlash(path);
    return bare.mid(bare.lastIndexOf('/') + 1);
}
QByteArray FolderOf(const QByteArray& path) {
    return path.left(path.lastIndexOf('/') + 1);
}

// The names in a folder without "." and "..", in no particular order.
QList<QByteArray> folderNames(const QByteArray& path) {
    QList<QByteArray> names;
    DIR* dir = ::opendir(path.constData());
    if (dir == nullptr) return names;
    while (const dirent* e = ::readdir(dir)) {
        const QByteArray name(e->d_name);
        if (name != "." && name != "..") names.append(name);
    }
    ::closedir(dir);
    return names;
}

bool lstatPath(const QByteArray& path, struct stat& st) {
    return ::lstat(path.constData(), &st) == 0;
}

bool existsNoFollow(const QByteArray& path) {
    struct stat st {};
    return lstatPath(path, st);
}

bool isRealDir(const QByteArray& path) {
    struct stat st {};
    return lstatPath(path, st) && S_ISDIR(st.st_mode);
}

// Moves an entry to the user's freedesktop trash: the entry goes to Trash/files under a free
// name and Trash/info records where it came from. Used for names that Qt's own trash cannot
// reach; fails (so the caller may offer to delete for good) when the trash is on another file
// system.
bool moveToTrashNative(const QByteArray& path) {
    const QByteArray trash =
        QFile::encodeName(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)) +
        "/Trash/";
    if (!QDir().mkpath(QFile::decodeName(trash + "files")) ||
        !QDir().mkpath(QFile::decodeName(trash + "info")))
        return false;
    const QByteArray name = LastName(path);
    const QByteArray date = QDateTime::currentDateTime().toString(Qt::ISODate).left(19).toLatin1();
    for (int n = 1; n < 10000; ++n) {
        const QByteArray free = n == 1 ? name : name + '.' + QByteArray::number(n);
        const QByteArray info = trash + "info/" + free + ".trashinfo";
        if (existsNoFollow(trash + "files/" + free)) continue;  // never replaced
        const int fd = ::open(info.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return false;
        }
        const QByteArray text =
            "[Trash Info]\nPath=" + path.toPercentEncoding("/") + "\nDeletionDate=" + date + '\n';
        const bool written = ::write(fd, text.constData(), text.size()) == text.size();
        ::close(fd);
        if (written && ::rename(path.constData(), (trash + "files/" + free).constData()) == 0)
            return true;
        ::unlink(info.constData());
        return false;
    }
    return false;
}

constexpr qint64 kCopyBlock = 1 << 20;
// Steps of the fault hook besides the byte offsets of the blocks.
constexpr qint64 kFaultCreate = -1;
constexpr qint64 kFaultRename = -2;

TCopyFaultHook& faultHook() {
    static TCopyFaultHook hook;
    return hook;
}

int injectedFault(const QByteArray& source, const QByteArray& target, qint64 step) {
    return faultHook() ? faultHook()(shown(source), shown(target), step) : 0;
}

QString errnoText() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

// Removes a file, a link or a whole folder tree (links are removed, never followed).
bool removeTree(const QByteArray& path) {
    if (!existsNoFollow(path)) return true;  // gone already
    if (!isRealDir(path)) return ::unlink(path.constData()) == 0 || errno == ENOENT;
    bool ok = true;
    for (const QByteArray& name : folderNames(path))
        ok = removeTree(JoinPath(path, name)) && ok;
    return ok && ::rmdir(path.constData()) == 0;
}

// Total bytes below a path, for the progress dialog.
qint64 treeSize(const QByteArray& path) {
    struct stat st {};
    if (!lstatPath(path, st)) return 0;
    if (!S_ISDIR(st.st_mode)) return S_ISREG(st.st_mode) ? st.st_size : 0;
    qint64 total = 0;
    for (const QByteArray& name : folderNames(path))
        total += treeSize(JoinPath(path, name));
    return total;
}

// "name (copy).ext", "name (copy 2).ext", ... in the target's folder.
QByteArray copyName(const QByteArray& target) {
    const QByteArray folder = FolderOf(target);
    const QByteArray name = LastName(target);
    const qsizetype dot = isRealDir(target) ? -1 : name.lastIndexOf('.');
    const QByteArray stem = dot > 0 ? name.left(dot) : name;
    const QByteArray ext = dot > 0 ? name.mid(dot) : QByteArray();
    for (int n = 1;; ++n) {
        const QByteArray candidate =
            folder + stem + QFile::encodeName(n == 1 ? tr(" (copy)") : tr(" (copy %1)").arg(n)) +
            ext;
        if (!existsNoFollow(candidate)) return candidate;
    }
}

class FileOperation {
  public:
    FileOperation(TFileOp op, TFileOpPrompts& p) : op_(op), p_(p) {}
    ~FileOperation() {
        if (progress_) progress_->close();
    }

    bool run(const QList<QByteArray>& sources, const QList<QByteArray>& targets);

  private:
    bool cancelled() {
        if (progress_) {
            QCoreApplication::processEvents();
            if (progress_->wasCanceled()) cancelled_ = true;
        }
        return cancelled_;
    }
    void fail(const QString& message) {
        failed_ = true;
        pauseProgress();
        if (p_.Error) p_.Error(message);
    }
    // The progress box is there only while entries are copied, moved or deleted: it is closed
    // before every question and message (a modal box above them would take their keys and
    // clicks) and comes back with the next step.
    void pauseProgress() {
        if (!progress_) return;
        cancelled();
        progress_.reset();
    }
    void showProgress();
    void advance(qint64 bytes) {
        done_ += bytes;
        showProgress();
        if (progress_ && total_ > 0)
            progress_->setValue(static_cast<int>(qMin<qint64>(1000, done_ * 1000 / total_)));
    }
    void startProgress(const QList<QByteArray>& sources);
    // Answer for an existing target; true to go on and overwrite/merge.
    bool resolveConflict(const QByteArray& source, const QByteArray& target);

    bool copyEntry(const QByteArray& source, const QByteArray& target);
    // Copies to a path where nothing exists yet.
    bool copyFresh(const QByteArray& source, const QByteArray& target, const struct stat& st);
    bool copyChildren(const QByteArray& source, const QByteArray& target);
    bool copyFile(const QByteArray& source, const QByteArray& target);
    bool moveEntry(const QByteArray& source, const QByteArray& target);
    // A free hidden name beside target.
    QByteArray tempSibling(const QByteArray& target);
    // Puts the complete entry at temp in place of the one at target.
    bool placeOver(const QByteArray& temp, const QByteArray& target);
    // Removes what this operation created since the mark.
    void rollback(qsizetype mark);
    void forgetCreated(const QByteArray& path);
    void transfer(const QByteArray& source, QByteArray target);
    void removeToTrash(const QByteArray& source);
    void rename(const QByteArray& source, QByteArray target);

    TFileOp op_;
    TFileOpPrompts& p_;
    std::unique_ptr<QProgressDialog> progress_;
    bool withProgress_ = false;
    QString progressLabel_;
    qint64 total_ = 0;
    qint64 done_ = 0;
    bool replaceAll_ = false;
    bool skipAll_ = false;
    bool skipped_ = false;
    bool cancelled_ = false;
    bool failed_ = false;
    bool verify_ = false;  // read every copied file back (before a move removes its source)
    quint64 tempCounter_ = 0;
    QList<QByteArray> created_;  // entries this operation created, oldest first
};

void FileOperation::startProgress(const QList<QByteArray>& sources) {
    if (!p_.ShowProgress || qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr)
        return;
    withProgress_ = true;
    if (op_ == foCopy || op_ == foMove)
        for (const QByteArray& s : sources)
            total_ += treeSize(s);
    else
        total_ = sources.size();
    progressLabel_ = op_ == foCopy   ? tr("Copying...")
                     : op_ == foMove ? tr("Moving...")
                                     : tr("Moving to the Trash...");
}

void FileOperation::showProgress() {
    if (!withProgress_ || progress_ || cancelled_) return;
    progress_ = std::make_unique<QProgressDialog>(progressLabel_, tr("Cancel"), 0, 1000,
                                                  QApplication::activeWindow());
    progress_->setWindowTitle(QApplication::applicationName());
    progress_->setWindowModality(Qt::WindowModal);
    progress_->setMinimumDuration(700);
    progress_->setAutoClose(false);
    progress_->setAutoReset(false);
    progress_->setValue(0);
}

bool FileOperation::resolveConflict(const QByteArray& source, const QByteArray& target) {
    if (replaceAll_) return true;
    if (skipAll_) {
        skipped_ = true;
        return false;
    }
    pauseProgress();
    if (cancelled_) return false;
    const TConflictAnswer answer =
        p_.Conflict ? p_.Conflict(shown(source), shown(target)) : caCancel;
    switch (answer) {
        case caReplaceAll:
            replaceAll_ = true;
            return true;
        case caReplace:
            return true;
        case caSkipAll:
            skipAll_ = true;
            skipped_ = true;
            return false;
        case caSkip:
            skipped_ = true;
            return false;
        case caCancel:
            cancelled_ = true;
            return false;
    }
    return false;
}

QByteArray FileOperation::tempSibling(const QByteArray& target) {
    // A long name is cut so that the temporary name stays within the name length limit.
    const QByteArray base = FolderOf(target) + '.' + LastName(target).left(64) + ".velkaro-" +
                            QByteArray::number(::getpid()) + '-';
    for (;;) {
        const QByteArray candidate = base + QByteArray::number(++tempCounter_);
        if (!existsNoFollow(candidate)) return candidate;
    }
}

bool FileOperation::placeOver(const QByteArray& temp, const QByteArray& target) {
    if (!existsNoFollow(target)) return ::rename(temp.constData(), target.constData()) == 0;
    // A file, link or empty folder over a file or link: one atomic rename.
    if (!isRealDir(target) && ::rename(temp.constData(), target.constData()) == 0) return true;
    // Otherwise the old entry steps aside first and comes back if the new one cannot take its
    // place; it is removed only once the new one is there.
    const QByteArray backup = tempSibling(target);
    if (::rename(target.constData(), backup.constData()) != 0) return false;
    if (::rename(temp.constData(), target.constData()) != 0) {
        const int saved = errno;
        ::rename(backup.constData(), target.constData());
        errno = saved;
        return false;
    }
    removeTree(backup);
    return true;
}

void FileOperation::forgetCreated(const QByteArray& path) {
    const QByteArray below = AddSlash(path);
    created_.erase(
        std::remove_if(created_.begin(), created_.end(),
                       [&](const QByteArray& p) { return p == path || p.startsWith(below); }),
        created_.end());
}

void FileOperation::rollback(qsizetype mark) {
    // Newest first: children before the folders that hold them.
    while (created_.size() > mark) {
        const QByteArray path = created_.takeLast();
        if (existsNoFollow(path)) removeTree(path);
    }
}

bool FileOperation::copyFile(const QByteArray& source, const QByteArray& target) {
    QFile in;
    if (!OpenNativeFile(in, source, O_RDONLY, QIODevice::ReadOnly)) {
        fail(tr("Cannot read \"%1\": %2").arg(shown(source), errnoText()));
        return false;
    }
    if (const int e = injectedFault(source, target, kFaultCreate)) {
        fail(tr("Cannot create \"%1\": %2")
                 .arg(shown(target), QString::fromLocal8Bit(std::strerror(e))));
        return false;
    }
    // The bytes go to a hidden name beside the target, which gets its own name only once the
    // copy is complete and checked, so a partial copy is never seen under the real name.
    const QByteArray temp = tempSibling(target);
    QFile out;
    if (!OpenNativeFile(out, temp, O_WRONLY | O_CREAT | O_EXCL, QIODevice::WriteOnly)) {
        fail(tr("Cannot create \"%1\": %2").arg(shown(target), errnoText()));
        return false;
    }
    QCryptographicHash written(QCryptographicHash::Md5);
    qint64 count = 0;
    bool ok = false;
    QByteArray buffer(kCopyBlock, Qt::Uninitialized);
    for (;;) {
        const qint64 n = in.read(buffer.data(), buffer.size());
        if (n < 0) {
            fail(tr("Cannot read \"%1\": %2").arg(shown(source), in.errorString()));
            break;
        }
        if (n == 0) {
            ok = true;
            break;
        }
        if (const int e = injectedFault(source, target, count)) {
            fail(tr("Cannot write \"%1\": %2")
                     .arg(shown(target), QString::fromLocal8Bit(std::strerror(e))));
            break;
        }
        if (out.write(buffer.constData(), n) != n) {
            fail(tr("Cannot write \"%1\": %2").arg(shown(target), out.errorString()));
            break;
        }
        if (verify_) written.addData(QByteArrayView(buffer.constData(), n));
        count += n;
        advance(n);
        if (cancelled()) break;
    }
    if (ok) {
        ok = out.flush() && ::fsync(out.handle()) == 0 && out.size() == count;
        if (!ok) fail(tr("Cannot write \"%1\": %2").arg(shown(target), out.errorString()));
    }
    if (ok) {
        // Times are set after the last write, which would otherwise update them.
        struct stat st {};
        if (::fstat(in.handle(), &st) == 0) {
            ::fchmod(out.handle(), st.st_mode & 07777);
            const struct timespec times[2] = {st.st_atim, st.st_mtim};
            ::futimens(out.handle(), times);
        }
        out.close();
        if (verify_) {
            // Read back what landed on the disk before the source may go.
            QFile check;
            QCryptographicHash landed(QCryptographicHash::Md5);
            ok = OpenNativeFile(check, temp, O_RDONLY, QIODevice::ReadOnly) &&
                 landed.addData(&check) && landed.result() == written.result();
            if (!ok) fail(tr("The copy of \"%1\" does not match the original.").arg(shown(source)));
        }
    }
    if (ok) {
        ok = ::rename(temp.constData(), target.constData()) == 0;
        if (!ok) fail(tr("Cannot create \"%1\": %2").arg(shown(target), errnoText()));
    }
    if (!ok) {
        out.close();
        ::unlink(temp.constData());
        return false;
    }
    created_.append(target);
    return true;
}

bool FileOperation::copyChildren(const QByteArray& source, const QByteArray& target) {
    bool ok = true;
    for (const QByteArray& name : folderNames(source)) {
        ok = copyEntry(JoinPath(source, name), JoinPath(target, name)) && ok;
        if (cancelled_) return false;
    }
    return ok && !skipped_;
}

bool FileOperation::copyFresh(const QByteArray& source, const QByteArray& target,
                              const struct stat& st) {
    if (S_ISLNK(st.st_mode)) {
        QByteArray raw(4096, '\0');
        const ssize_t n = ::readlink(source.constData(), raw.data(), raw.size() - 1);
        if (n <= 0 || ::symlink(raw.left(n).constData(), target.constData()) != 0) {
            fail(tr("Cannot create \"%1\": %2").arg(shown(target), errnoText()));
            return false;
        }
        created_.append(target);
        return true;
    }
    if (S_ISDIR(st.st_mode)) {
        if (::mkdir(target.constData(), (st.st_mode & 07777) | 0700) != 0) {
            fail(tr("Cannot create \"%1\": %2").arg(shown(target), errnoText()));
            return false;
        }
        created_.append(target);
        const bool ok = copyChildren(source, target);
        ::chmod(target.constData(), st.st_mode & 07777);
        return ok;
    }
    if (!S_ISREG(st.st_mode)) {
        fail(tr("\"%1\" is a device, socket or pipe and cannot be copied.").arg(shown(source)));
        return false;
    }
    return copyFile(source, target);
}

bool FileOperation::copyEntry(const QByteArray& source, const QByteArray& target) {
    if (cancelled()) return false;
    struct stat st {};
    if (!lstatPath(source, st)) {
        fail(tr("Cannot find \"%1\": %2").arg(shown(source), errnoText()));
        return false;
    }
    if (!existsNoFollow(target)) return copyFresh(source, target, st);
    const bool merge = S_ISDIR(st.st_mode) && isRealDir(target);
    if (!resolveConflict(source, target)) return false;
    if (merge) return copyChildren(source, target);
    // A replaced entry stays until its replacement is complete beside it.
    const QByteArray temp = tempSibling(target);
    const qsizetype mark = created_.size();
    if (!copyFresh(source, temp, st)) {
        rollback(mark);
        return false;
    }
    if (!placeOver(temp, target)) {
        fail(tr("Cannot replace \"%1\": %2").arg(shown(target), errnoText()));
        rollback(mark);
        return false;
    }
    forgetCreated(temp);
    return true;
}

bool FileOperation::moveEntry(const QByteArray& source, const QByteArray& target) {
    if (cancelled()) return false;
    struct stat st {};
    if (!lstatPath(source, st)) {
        fail(tr("Cannot find \"%1\": %2").arg(shown(source), errnoText()));
        return false;
    }
    const bool exists = existsNoFollow(target);
    if (exists) {
        const bool merge = S_ISDIR(st.st_mode) && isRealDir(target);
        if (!resolveConflict(source, target)) return false;
        if (merge) {
            bool ok = true;
            for (const QByteArray& name : folderNames(source)) {
                ok = moveEntry(JoinPath(source, name), JoinPath(target, name)) && ok;
                if (cancelled_) return false;
            }
            // The source folder goes only when everything in it has moved.
            if (ok && !skipped_ && ::rmdir(source.constData()) != 0) ok = false;
            return ok;
        }
    }
    const qint64 size = progress_ ? treeSize(source) : 0;
    int error = injectedFault(source, target, kFaultRename);
    if (error == 0) {
        if (exists ? placeOver(source, target)
                   : ::rename(source.constData(), target.constData()) == 0) {
            advance(size);
            return true;
        }
        error = errno;
    }
    if (error != EXDEV) {
        fail(tr("Cannot move \"%1\": %2")
                 .arg(shown(source), QString::fromLocal8Bit(std::strerror(error))));
        return false;
    }
    // Another file system: a complete, checked copy first; the source goes only after it.
    const bool savedReplace = replaceAll_;
    const bool savedVerify = verify_;
    replaceAll_ = true;  // the conflict has been answered above
    verify_ = true;
    const qsizetype mark = created_.size();
    const bool copied = copyEntry(source, target);
    replaceAll_ = savedReplace;
    verify_ = savedVerify;
    if (!copied) {
        rollback(mark);
        return false;
    }
    forgetCreated(target);
    if (!removeTree(source)) {
        fail(tr("Cannot remove \"%1\": %2").arg(shown(source), errnoText()));
        return false;
    }
    return true;
}

void FileOperation::transfer(const QByteArray& source, QByteArray target) {
    struct stat st {};
    if (!lstatPath(source, st)) {
        fail(tr("Cannot find \"%1\": %2").arg(shown(source), errnoText()));
        return;
    }
    if (target == source) {
        if (op_ == foMove) return;  // moving onto itself changes nothing
        target = copyName(source);
    }
    if (S_ISDIR(st.st_mode) && target.startsWith(AddSlash(source))) {
        fail(tr("Cannot copy or move \"%1\": the destination folder is inside the source "
                "folder.")
                 .arg(shown(source)));
        return;
    }
    if (op_ == foCopy) {
        // A copy that fails or is cancelled takes back what it made of this source.
        const bool failedBefore = failed_;
        created_.clear();
        if (!copyEntry(source, target) && ((failed_ && !failedBefore) || cancelled_)) rollback(0);
        created_.clear();
    } else {
        created_.clear();
        moveEntry(source, target);
        created_.clear();
    }
}

void FileOperation::removeToTrash(const QByteArray& source) {
    if (!existsNoFollow(source)) {
        fail(tr("Cannot find \"%1\": %2").arg(shown(source), errnoText()));
        return;
    }
    // Qt's trash takes text paths; a name that text cannot carry goes to the trash by its bytes.
    const bool lossless = QFile::encodeName(shown(source)) == source;
    if (lossless ? QFile::moveToTrash(shown(source)) : moveToTrashNative(source)) {
        advance(1);
        return;
    }
    pauseProgress();
    if (cancelled_) return;
    if (p_.ConfirmPermanentDelete && p_.ConfirmPermanentDelete(shown(source))) {
        if (!removeTree(source))
            fail(tr("Cannot delete \"%1\": %2").arg(shown(source), errnoText()));
        advance(1);
    } else {
        skipped_ = true;
    }
}

void FileOperation::rename(const QByteArray& source, QByteArray target) {
    if (!target.startsWith('/')) target = FolderOf(source) + target;
    if (target == source) return;
    if (!existsNoFollow(source)) {
        fail(tr("Cannot find \"%1\": %2").arg(shown(source), errnoText()));
        return;
    }
    if (existsNoFollow(target)) {
        fail(tr("Cannot rename \"%1\": \"%2\" already exists.")
                 .arg(shown(source), shown(LastName(target))));
        return;
    }
    if (::rename(source.constData(), target.constData()) != 0)
        fail(tr("Cannot rename \"%1\": %2").arg(shown(source), errnoText()));
}

bool FileOperation::run(const QList<QByteArray>& sources, const QList<QByteArray>& targets) {
    if (op_ == foRename) {
        if (sources.size() != 1 || targets.isEmpty()) {
            fail(tr("Cannot rename: one source and one new name are needed."));
            return false;
        }
        rename(sources[0], targets[0]);
        return !failed_;
    }
    if (op_ == foDelete) {
        QStringList names;
        for (const QByteArray& s : sources)
            names.append(shown(s));
        if (p_.ConfirmDelete && !p_.ConfirmDelete(names)) return false;
        startProgress(sources);
        for (const QByteArray& s : sources) {
            if (cancelled()) break;
            removeToTrash(s);
        }
        return !(failed_ || skipped_ || cancelled_);
    }
    if (op_ != foCopy && op_ != foMove) return false;
    if (targets.isEmpty()) {
        fail(tr("No destination was given."));
        return false;
    }
    startProgress(sources);
    // One target per source, or one target for all: a target written as a folder ("/" at the
    // end), an existing folder of another name or a target for several sources receives the
    // sources; otherwise the target is the new path of the single source.
    const bool pairwise = targets.size() == sources.size() && sources.size() > 1;
    for (qsizetype i = 0; i < sources.size(); ++i) {
        if (cancelled()) break;
        const QByteArray& source = sources[i];
        QByteArray target;
        if (pairwise) {
            target = targets[i];
        } else {
            const QByteArray& t = targets[0];
            const QByteArray bare = t.size() > 1 ? DropSlash(t) : t;
            const bool into = t.endsWith('/') || sources.size() > 1 ||
                              (isRealDir(bare) && LastName(bare) != LastName(source)) ||
                              (isRealDir(bare) && !isRealDir(source));
            target = into ? JoinPath(bare, LastName(source)) : bare;
        }
        if (target.size() > 1) target = DropSlash(target);
        transfer(source, target);
    }
    return !(failed_ || skipped_ || cancelled_);
}

}  // namespace

bool OpenNativeFile(QFile& file, const QByteArray& path, int flags, QIODevice::OpenMode mode) {
    const int fd = ::open(path.constData(), flags | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    if (file.open(fd, mode, QFileDevice::AutoCloseHandle)) return true;
    ::close(fd);
    return false;
}

void SetCopyFaultHook(TCopyFaultHook hook) {
    faultHook() = std::move(hook);
}

TFileOpPrompts& FileOpPrompts() {
    return prompts();
}

void ResetFileOpPrompts() {
    prompts() = defaultPrompts();
}

bool ShellFileOp(TFileOp operation, const QList<QByteArray>& sources,
                 const QList<QByteArray>& targets) {
    QList<QByteArray> bare;
    for (const QByteArray& s : sources)
        if (!s.isEmpty()) bare.append(s.size() > 1 ? DropSlash(s) : s);
    if (bare.isEmpty()) return false;
    FileOperation op(operation, prompts());
    return op.run(bare, targets);
}

bool ShellFileOp(TFileOp operation, const QString& fromList, const QString& toList) {
    QList<QByteArray> sources, targets;
    for (const QString& s : SplitPathList(TerminateList(fromList)))
        sources.append(QFile::encodeName(s));
    for (const QString& t : SplitPathList(TerminateList(toList)))
        targets.append(QFile::encodeName(t));
    return ShellFileOp(operation, sources, targets);
}
