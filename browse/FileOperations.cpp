// Copy, move, rename and delete-to-trash for the file-browsing components, with our own
// confirmation, conflict and progress dialogs.
//
// Nothing the user has may be lost on the way:
// - a folder is never replaced by a file or a link, nor a file by a folder, and nothing is
//   copied or moved onto itself (a link onto what it points to);
// - a copy is written under a hidden name and read back; it takes its own name without
//   replacing whatever appeared there meanwhile (that is asked about again);
// - a move to another file system removes only the entries it copied and read back, each only
//   while it is as it was when copied, and keeps folders that gained entries;
// - one operation runs at a time.

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <QApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <optional>

#include "browse/NativePath.h"
#include "browse/ShellHelpers.h"
#include "browse/Trash.h"

using namespace native;

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
    p.Conflict = [](const QString& source, const QString& target, bool merge) {
        QMessageBox box(QApplication::activeWindow());
        box.setWindowTitle(tr("Confirm Replace"));
        box.setIcon(QMessageBox::Question);
        box.setText((merge ? tr("This folder already contains a folder named \"%1\".")
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
        // A replace cannot be undone, so Enter keeps the file; a merge only asks again for each
        // file it would replace.
        box.setDefaultButton(merge ? yes : no);
        box.exec();
        if (box.clickedButton() == yes) return caReplace;
        if (box.clickedButton() == yesAll) return caReplaceAll;
        if (box.clickedButton() == no) return caSkip;
        if (box.clickedButton() == noAll) return caSkipAll;
        return caCancel;
    };
    p.ConfirmPermanentDelete = [](const QString& path, const QString& reason) {
        return ShowBrowseMessage(mkConfirmation,
                                 tr("\"%1\" can't be moved to the Trash: %2\n\nDo you want to "
                                    "delete it permanently?")
                                     .arg(LastName(path), reason),
                                 nullptr, true);
    };
    p.Error = [](const QString& message) { ShowBrowseMessage(mkError, message); };
    return p;
}

TFileOpPrompts& prompts() {
    static TFileOpPrompts instance = defaultPrompts();
    return instance;
}

// ---------------------------------------------------------------------------------------------
// Placing entries

// Renames without replacing: fails with EEXIST when anything is at the target.
bool renameNoReplace(const QByteArray& from, const QByteArray& to) {
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return false;
    // A file system without the flag: a hard link cannot replace either.
    struct stat st {};
    if (lstatPath(from, st) && !S_ISDIR(st.st_mode)) {
        if (::linkat(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), 0) == 0) {
            ::unlink(from.constData());
            return true;
        }
        if (errno == EEXIST) return false;
    }
    if (existsNoFollow(to)) {
        errno = EEXIST;
        return false;
    }
    return ::rename(from.constData(), to.constData()) == 0;
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

// One file operation runs at a time: a paste started while another runs (from its progress
// box's event loop) would work inside the first one's half-made targets.
bool& operationRunning() {
    static bool running = false;
    return running;
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

// Copies the extended attributes of one entry to another (a move keeps them, as mv does).
// Empty on success, else why not.
QString copyAttributes(const QByteArray& source, const QByteArray& target, int sourceFd,
                       int targetFd) {
    auto list = [&](char* buffer, size_t size) {
        return sourceFd >= 0 ? ::flistxattr(sourceFd, buffer, size)
                             : ::llistxattr(source.constData(), buffer, size);
    };
    const ssize_t listSize = list(nullptr, 0);
    if (listSize < 0) return errno == ENOTSUP ? QString() : errnoText();
    if (listSize == 0) return QString();
    QByteArray names(listSize, '\0');
    const ssize_t got = list(names.data(), names.size());
    if (got < 0) return errnoText();
    for (const QByteArray& name : names.left(got).split('\0')) {
        if (name.isEmpty()) continue;
        const ssize_t size = sourceFd >= 0
                                 ? ::fgetxattr(sourceFd, name.constData(), nullptr, 0)
                                 : ::lgetxattr(source.constData(), name.constData(), nullptr, 0);
        if (size < 0) return errnoText();
        QByteArray value(size, '\0');
        const ssize_t read =
            sourceFd >= 0
                ? ::fgetxattr(sourceFd, name.constData(), value.data(), value.size())
                : ::lgetxattr(source.constData(), name.constData(), value.data(), value.size());
        if (read < 0) return errnoText();
        const int set =
            targetFd >= 0
                ? ::fsetxattr(targetFd, name.constData(), value.constData(), read, 0)
                : ::lsetxattr(target.constData(), name.constData(), value.constData(), read, 0);
        if (set != 0) return errnoText();
    }
    return QString();
}

class FileOperation {
  public:
    FileOperation(TFileOp op, TFileOpPrompts& p) : op_(op), p_(p) {}
    ~FileOperation() {
        if (progress_) progress_->close();
    }

    bool run(const QList<QByteArray>& sources, const QList<QByteArray>& targets);

  private:
    // How an entry meets what already is at its target.
    enum Clash { Refused, Merge, Replace };
    // The outcome of putting a complete entry in place: Error leaves errno set and says nothing;
    // Merging, a folder arrived at the target of a folder meanwhile and the user agreed to merge.
    enum Placed { Done, Declined, Merging, Error };

    bool cancelled() {
        if (progress_) {
            QCoreApplication::processEvents();
            if (progress_->wasCanceled()) cancelled_ = true;
        }
        return cancelled_;
    }
    void fail(const QString& message) {
        failed_ = true;
        tell(message);
    }
    void tell(const QString& message) {
        pauseProgress();
        if (p_.Error) p_.Error(message);
    }
    // An entry is left where it is on purpose (skipped, refused, changed meanwhile).
    void keep(const QByteArray& source) {
        declined_ = true;
        kept_.append(source);
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

    // The name the user knows a path by: a hidden temporary name shows as the target it
    // stands for.
    QByteArray userPath(const QByteArray& path) const;
    // "Cannot <verb> "target": <errno>", or that the target's folder is gone.
    void failAt(const QString& format, const QByteArray& target, int error);
    Clash clash(const QByteArray& source, const QByteArray& target, const struct stat& st);
    // Answer for an existing target; true to go on and replace or merge.
    bool resolveConflict(const QByteArray& source, const QByteArray& target, bool merge);
    // Gives the complete entry at `from` the target's name without replacing anything but
    // what the user agreed to replace (`agreed`, the target as it was when asked about).
    Placed place(const QByteArray& from, const QByteArray& target, const QByteArray& source,
                 const struct stat& st, std::optional<Stamp> agreed);

    // Says that a source is gone, with the system's reason.
    void failMissing(const QByteArray& source);
    // lstat()s a source; says that it is gone and returns false when it is.
    bool statSource(const QByteArray& source, struct stat& st);
    bool copyEntry(const QByteArray& source, const QByteArray& target);
    bool copyOver(const QByteArray& source, const QByteArray& target, const struct stat& st);
    // Copies to a path where nothing exists yet.
    bool copyFresh(const QByteArray& source, const QByteArray& target, const struct stat& st);
    // Runs a step (copy or move) for every entry of a source folder; false when the folder
    // cannot be read or any step was not done whole.
    bool eachChild(const QByteArray& source, const QByteArray& target,
                   bool (FileOperation::*step)(const QByteArray&, const QByteArray&));
    bool copyChildren(const QByteArray& source, const QByteArray& target);
    bool copyFile(const QByteArray& source, const QByteArray& target, const struct stat& st);
    bool moveEntry(const QByteArray& source, const QByteArray& target);
    bool moveChildren(const QByteArray& source, const QByteArray& target);
    bool moveAcross(const QByteArray& source, const QByteArray& target, const struct stat& st,
                    std::optional<Stamp> agreed);
    // After a move's copy: removes the sources that are as they were copied.
    void removeCopiedSources(qsizetype from);
    void keepFolder(const QByteArray& folder, int error);
    void recordCopied(const QByteArray& source, const Stamp& stamp, bool folder);
    void keepAttributes(const QByteArray& source, const QByteArray& target, int sourceFd,
                        int targetFd);
    // A free hidden name beside target.
    QByteArray tempSibling(const QByteArray& target);
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
    bool declined_ = false;  // something was skipped or refused
    bool cancelled_ = false;
    bool failed_ = false;
    bool moving_ = false;  // copying for a move: read back, record, keep attributes
    quint64 tempCounter_ = 0;
    QList<QByteArray> created_;                     // entries this operation created, oldest first
    QList<QByteArray> kept_;                        // sources left in place on purpose
    QList<QPair<QByteArray, QByteArray>> aliases_;  // hidden name, the target it stands for
    struct Copied {
        QByteArray Source;
        Stamp State;
        bool Folder;
    };
    QList<Copied> copied_;  // a move's copied sources, parents before their children
    QStringList attributeLosses_;
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

QByteArray FileOperation::userPath(const QByteArray& path) const {
    for (const auto& [temp, target] : aliases_)
        if (path == temp || path.startsWith(temp + '/'))
            return userPath(target + path.mid(temp.size()));
    return path;
}

void FileOperation::failAt(const QString& format, const QByteArray& target, int error) {
    const QByteArray name = userPath(target);
    if (error == ENOENT && !isRealDir(FolderOf(name)))
        fail(tr("Cannot copy to \"%1\": the target folder disappeared.").arg(shown(name)));
    else
        fail(format.arg(shown(name), errorText(error)));
}

FileOperation::Clash FileOperation::clash(const QByteArray& source, const QByteArray& target,
                                          const struct stat& st) {
    const QString name = shown(LastName(target));
    if (sameFile(source, target)) {
        tell(tr("\"%1\" is the same file as its target.").arg(shown(userPath(source))));
        keep(source);
        return Refused;
    }
    if (S_ISDIR(st.st_mode) && isRealDir(target)) return Merge;
    // Links count as what they point to, as the question shows them.
    if (showsAsFolder(target)) {
        tell(tr("A folder named \"%1\" already exists here.").arg(name));
        keep(source);
        return Refused;
    }
    if (S_ISDIR(st.st_mode) || showsAsFolder(source)) {
        tell(tr("A file named \"%1\" already exists here.").arg(name));
        keep(source);
        return Refused;
    }
    return Replace;
}

bool FileOperation::resolveConflict(const QByteArray& source, const QByteArray& target,
                                    bool merge) {
    if (replaceAll_) return true;
    if (skipAll_) {
        keep(source);
        return false;
    }
    pauseProgress();
    if (cancelled_) return false;
    const TConflictAnswer answer =
        p_.Conflict ? p_.Conflict(shown(userPath(source)), shown(userPath(target)), merge)
                    : caCancel;
    switch (answer) {
        case caReplaceAll:
            replaceAll_ = true;
            return true;
        case caReplace:
            return true;
        case caSkipAll:
            skipAll_ = true;
            keep(source);
            return false;
        case caSkip:
            keep(source);
            return false;
        case caCancel:
            cancelled_ = true;
            return false;
    }
    return false;
}

FileOperation::Placed FileOperation::place(const QByteArray& from, const QByteArray& target,
                                           const QByteArray& source, const struct stat& st,
                                           std::optional<Stamp> agreed) {
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::optional<Stamp> now = stampAt(target);
        if (!now) {
            if (renameNoReplace(from, target)) return Done;
            if (errno != EEXIST) return Error;
            continue;  // something arrived just now
        }
        if (agreed && *now == *agreed)
            return ::rename(from.constData(), target.constData()) == 0 ? Done : Error;
        // Something else took the target's place while the entry was made: ask again.
        switch (clash(source, target, st)) {
            case Refused:
                return Declined;
            case Merge:
                return resolveConflict(source, target, true) ? Merging : Declined;
            case Replace:
                if (!resolveConflict(source, target, false)) return Declined;
                break;
        }
        agreed = now;
    }
    errno = EBUSY;
    return Error;
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
        // A folder made here may carry its source's mode already (a locked one, say).
        if (isRealDir(path)) ::chmod(path.constData(), S_IRWXU);
        if (existsNoFollow(path)) removeTree(path);
    }
}

void FileOperation::recordCopied(const QByteArray& source, const Stamp& stamp, bool folder) {
    if (moving_) copied_.append({source, stamp, folder});
}

void FileOperation::keepAttributes(const QByteArray& source, const QByteArray& target, int sourceFd,
                                   int targetFd) {
    if (!moving_) return;
    const QString why = copyAttributes(source, target, sourceFd, targetFd);
    if (!why.isEmpty())
        attributeLosses_.append(
            tr("The extended attributes of \"%1\" were not kept: %2").arg(shown(source), why));
}

bool FileOperation::copyFile(const QByteArray& source, const QByteArray& target,
                             const struct stat& st) {
    QFile in;
    if (!OpenNativeFile(in, source, O_RDONLY, QIODevice::ReadOnly)) {
        fail(tr("Cannot read \"%1\": %2").arg(shown(source), errnoText()));
        return false;
    }
    struct stat before {};
    if (::fstat(in.handle(), &before) != 0) before = st;
    if (const int e = injectedFault(source, target, kFaultCreate)) {
        failAt(tr("Cannot create \"%1\": %2"), target, e);
        return false;
    }
    // The bytes go to a hidden name beside the target, which gets its own name only once the
    // copy is complete and checked, so a partial copy is never seen under the real name.
    const QByteArray temp = tempSibling(target);
    const int out = ::open(temp.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out < 0) {
        failAt(tr("Cannot create \"%1\": %2"), target, errno);
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
            failAt(tr("Cannot write \"%1\": %2"), target, e);
            break;
        }
        if (!writeAll(out, buffer.constData(), n)) {
            failAt(tr("Cannot write \"%1\": %2"), target, errno);
            break;
        }
        if (moving_) written.addData(QByteArrayView(buffer.constData(), n));
        count += n;
        advance(n);
        if (cancelled()) break;
    }
    if (ok && ::fsync(out) != 0) {
        ok = false;
        failAt(tr("Cannot write \"%1\": %2"), target, errno);
    }
    if (ok && moving_) {
        // Read back what landed before the source may go (before the source's mode is given
        // to the copy, which may not let its owner read it).
        QCryptographicHash landed(QCryptographicHash::Md5);
        for (qint64 at = 0;;) {
            const ssize_t n = ::pread(out, buffer.data(), buffer.size(), at);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                ok = false;
                failAt(tr("Cannot read back \"%1\": %2"), target, errno);
                break;
            }
            if (n == 0) break;
            landed.addData(QByteArrayView(buffer.constData(), n));
            at += n;
        }
        if (ok && landed.result() != written.result()) {
            ok = false;
            fail(tr("The copy of \"%1\" does not match the original.").arg(shown(source)));
        }
    }
    if (ok) {
        ::fchmod(out, before.st_mode & 07777);
        keepAttributes(source, target, in.handle(), out);
        // Times are set after the last write, which would otherwise update them.
        const struct timespec times[2] = {before.st_atim, before.st_mtim};
        ::futimens(out, times);
    }
    ::close(out);
    if (ok) {
        switch (place(temp, target, source, st, std::nullopt)) {
            case Done:
                created_.append(target);
                recordCopied(source, Stamp::of(before), false);
                return true;
            case Declined:
            case Merging:  // a file never merges
                ok = false;
                break;
            case Error:
                ok = false;
                failAt(tr("Cannot create \"%1\": %2"), target, errno);
                break;
        }
    }
    ::unlink(temp.constData());
    return false;
}

bool FileOperation::eachChild(const QByteArray& source, const QByteArray& target,
                              bool (FileOperation::*step)(const QByteArray&, const QByteArray&)) {
    QList<QByteArray> names;
    if (!readFolder(source, names)) {
        fail(tr("Cannot read folder \"%1\": %2").arg(shown(source), errnoText()));
        return false;
    }
    bool ok = true;
    for (const QByteArray& name : names) {
        ok = (this->*step)(JoinPath(source, name), JoinPath(target, name)) && ok;
        if (cancelled_) return false;
    }
    return ok;
}

bool FileOperation::copyChildren(const QByteArray& source, const QByteArray& target) {
    return eachChild(source, target, &FileOperation::copyEntry);
}

bool FileOperation::copyFresh(const QByteArray& source, const QByteArray& target,
                              const struct stat& st) {
    if (S_ISLNK(st.st_mode)) {
        QByteArray raw(4096, '\0');
        const ssize_t n = ::readlink(source.constData(), raw.data(), raw.size() - 1);
        if (n <= 0) {
            fail(tr("Cannot read \"%1\": %2").arg(shown(source), errnoText()));
            return false;
        }
        if (::symlink(raw.left(n).constData(), target.constData()) != 0) {
            if (errno == EEXIST) return copyOver(source, target, st);  // arrived meanwhile
            failAt(tr("Cannot create \"%1\": %2"), target, errno);
            return false;
        }
        created_.append(target);
        recordCopied(source, Stamp::of(st), false);
        return true;
    }
    if (S_ISDIR(st.st_mode)) {
        if (::mkdir(target.constData(), (st.st_mode & 07777) | 0700) != 0) {
            if (errno == EEXIST) return copyOver(source, target, st);  // arrived meanwhile
            failAt(tr("Cannot create \"%1\": %2"), target, errno);
            return false;
        }
        created_.append(target);
        recordCopied(source, Stamp::of(st), true);
        keepAttributes(source, target, -1, -1);
        const bool ok = copyChildren(source, target);
        ::chmod(target.constData(), st.st_mode & 07777);
        return ok;
    }
    if (!S_ISREG(st.st_mode)) {
        fail(tr("\"%1\" is a device, socket or pipe and cannot be copied.").arg(shown(source)));
        return false;
    }
    return copyFile(source, target, st);
}

void FileOperation::failMissing(const QByteArray& source) {
    fail(tr("Cannot find \"%1\": %2").arg(shown(source), errnoText()));
}

bool FileOperation::statSource(const QByteArray& source, struct stat& st) {
    if (lstatPath(source, st)) return true;
    failMissing(source);
    return false;
}

bool FileOperation::copyEntry(const QByteArray& source, const QByteArray& target) {
    if (cancelled()) return false;
    struct stat st {};
    if (!statSource(source, st)) return false;
    if (!existsNoFollow(target)) return copyFresh(source, target, st);
    return copyOver(source, target, st);
}

bool FileOperation::copyOver(const QByteArray& source, const QByteArray& target,
                             const struct stat& st) {
    switch (clash(source, target, st)) {
        case Refused:
            return false;
        case Merge:
            if (!resolveConflict(source, target, true)) return false;
            recordCopied(source, Stamp::of(st), true);
            return copyChildren(source, target);
        case Replace:
            break;
    }
    const std::optional<Stamp> agreed = stampAt(target);
    if (!resolveConflict(source, target, false)) return false;
    // A replaced entry stays until its replacement is complete beside it.
    const QByteArray temp = tempSibling(target);
    const qsizetype mark = created_.size();
    aliases_.append({temp, target});
    bool ok = copyFresh(source, temp, st);
    aliases_.removeLast();
    if (ok) {
        switch (place(temp, target, source, st, agreed)) {
            case Done:
                // The replaced entry is not this operation's to take back.
                forgetCreated(temp);
                return true;
            case Declined:
            case Merging:
                break;
            case Error:
                failAt(tr("Cannot replace \"%1\": %2"), target, errno);
                break;
        }
        ok = false;
    }
    // The temporary entry goes whatever the outcome, and no record of it stays behind.
    rollback(mark);
    removeTree(temp);
    if (moving_)
        copied_.erase(std::remove_if(copied_.begin(), copied_.end(),
                                     [&](const Copied& c) {
                                         return c.Source == source ||
                                                c.Source.startsWith(AddSlash(source));
                                     }),
                      copied_.end());
    return ok;
}

bool FileOperation::moveEntry(const QByteArray& source, const QByteArray& target) {
    if (cancelled()) return false;
    struct stat st {};
    if (!statSource(source, st)) return false;
    std::optional<Stamp> agreed;
    if (existsNoFollow(target)) {
        switch (clash(source, target, st)) {
            case Refused:
                return false;
            case Merge:
                return resolveConflict(source, target, true) && moveChildren(source, target);
            case Replace:
                agreed = stampAt(target);
                if (!resolveConflict(source, target, false)) return false;
                break;
        }
    }
    const qint64 size = progress_ ? treeSize(source) : 0;
    int error = injectedFault(source, target, kFaultRename);
    if (error == 0) {
        switch (place(source, target, source, st, agreed)) {
            case Done:
                advance(size);
                return true;
            case Declined:
                return false;
            case Merging:
                return moveChildren(source, target);
            case Error:
                error = errno;
                break;
        }
    }
    if (error != EXDEV) {
        fail(tr("Cannot move \"%1\": %2").arg(shown(source), errorText(error)));
        return false;
    }
    return moveAcross(source, target, st, agreed);
}

bool FileOperation::moveChildren(const QByteArray& source, const QByteArray& target) {
    // The source folder goes only once it is empty: what is left in it stays with it.
    if (!eachChild(source, target, &FileOperation::moveEntry)) return false;
    if (::rmdir(source.constData()) == 0) return true;
    keepFolder(source, errno);
    return false;
}

void FileOperation::keepFolder(const QByteArray& folder, int error) {
    keep(folder);
    if (error != ENOTEMPTY && error != EEXIST) {
        fail(tr("Cannot remove \"%1\": %2").arg(shown(folder), errorText(error)));
        return;
    }
    // Entries left on purpose (skipped, refused, changed) have been spoken of already; any
    // other entry arrived while the folder was moved.
    QList<QByteArray> names;
    readFolder(folder, names);
    if (std::any_of(names.begin(), names.end(), [&](const QByteArray& name) {
            return !kept_.contains(JoinPath(folder, name));
        }))
        fail(tr("The folder \"%1\" was kept: entries were added to it while it was moved.")
                 .arg(shown(folder)));
}

bool FileOperation::moveAcross(const QByteArray& source, const QByteArray& target,
                               const struct stat& st, std::optional<Stamp> agreed) {
    // Another file system: a complete copy, read back, comes first; then the source entries go
    // one by one, each only while it is as it was copied.
    const bool wasMoving = moving_;
    moving_ = true;
    const qsizetype mark = created_.size();
    const qsizetype firstCopied = copied_.size();
    const bool failedBefore = failed_;
    bool copied;
    if (agreed) {
        const QByteArray temp = tempSibling(target);
        aliases_.append({temp, target});
        copied = copyFresh(source, temp, st);
        aliases_.removeLast();
        if (copied) {
            switch (place(temp, target, source, st, agreed)) {
                case Done:
                    forgetCreated(temp);
                    break;
                case Declined:
                case Merging:
                    copied = false;
                    copied_.resize(firstCopied);
                    break;
                case Error:
                    copied = false;
                    failAt(tr("Cannot replace \"%1\": %2"), target, errno);
                    break;
            }
        }
        if (!copied) {
            rollback(mark);
            removeTree(temp);
        }
    } else {
        copied = copyFresh(source, target, st);
    }
    moving_ = wasMoving;
    if (failed_ != failedBefore || cancelled_) {
        // Nothing of this source is removed after a failure: the copy is taken back.
        rollback(mark);
        copied_.resize(firstCopied);
        return false;
    }
    forgetCreated(target);
    removeCopiedSources(firstCopied);
    return copied && failed_ == failedBefore;
}

void FileOperation::removeCopiedSources(qsizetype from) {
    // Children before the folders that hold them.
    while (copied_.size() > from) {
        const Copied entry = copied_.takeLast();
        if (entry.Folder) {
            if (::rmdir(entry.Source.constData()) != 0) keepFolder(entry.Source, errno);
            continue;
        }
        const std::optional<Stamp> now = stampAt(entry.Source);
        if (!now) continue;  // gone already
        if (!(*now == entry.State)) {
            keep(entry.Source);
            fail(tr("\"%1\" was changed while it was moved: it stays where it was, and the "
                    "copy holds it as it was before the change.")
                     .arg(shown(entry.Source)));
            continue;
        }
        if (::unlink(entry.Source.constData()) != 0 && errno != ENOENT) {
            keep(entry.Source);
            fail(tr("Cannot remove \"%1\": %2").arg(shown(entry.Source), errnoText()));
        }
    }
}

void FileOperation::transfer(const QByteArray& source, QByteArray target) {
    struct stat st {};
    if (!statSource(source, st)) return;
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
    created_.clear();
    if (op_ == foCopy) {
        // A copy that fails or is cancelled takes back what it made of this source.
        const bool failedBefore = failed_;
        if (!copyEntry(source, target) && ((failed_ && !failedBefore) || cancelled_)) rollback(0);
    } else {
        moveEntry(source, target);
    }
    created_.clear();
    copied_.clear();
}

void FileOperation::removeToTrash(const QByteArray& source) {
    if (!existsNoFollow(source)) {
        failMissing(source);
        return;
    }
    const QString why = MoveToTrash(source);
    if (why.isEmpty()) {
        advance(1);
        return;
    }
    pauseProgress();
    if (cancelled_) return;
    if (p_.ConfirmPermanentDelete && p_.ConfirmPermanentDelete(shown(source), why)) {
        if (!removeTree(source))
            fail(tr("Cannot delete \"%1\": %2").arg(shown(source), errnoText()));
        advance(1);
    } else {
        keep(source);
    }
}

void FileOperation::rename(const QByteArray& source, QByteArray target) {
    if (!target.startsWith('/')) target = FolderOf(source) + target;
    if (target == source) return;
    if (!existsNoFollow(source)) {
        failMissing(source);
        return;
    }
    if (renameNoReplace(source, target)) return;
    if (errno == EEXIST)
        fail(tr("Cannot rename \"%1\": \"%2\" already exists.")
                 .arg(shown(source), shown(LastName(target))));
    else
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
        return !(failed_ || declined_ || cancelled_);
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
    // Lost attributes do not undo a move; they are said once at the end.
    for (const QString& loss : attributeLosses_)
        tell(loss);
    return !(failed_ || declined_ || cancelled_);
}

}  // namespace

bool OpenNativeFile(QFile& file, const QByteArray& path, int flags, QIODevice::OpenMode mode) {
    const int fd = ::open(path.constData(), flags | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    if (file.open(fd, mode, QFileDevice::AutoCloseHandle)) return true;
    ::close(fd);
    return false;
}

bool RenameNoReplace(const QByteArray& from, const QByteArray& to) {
    return renameNoReplace(from, to);
}

bool WriteNewFile(const QByteArray& path, const QByteArray& data, unsigned int mode) {
    // Written under a hidden name beside it, read back, then given its name without replacing.
    const QByteArray temp = FolderOf(path) + '.' + LastName(path).left(64) + ".velkaro-" +
                            QByteArray::number(::getpid()) + "-new";
    const int fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    bool ok =
        writeAll(fd, data.constData(), data.size()) && ::fsync(fd) == 0 && ::fchmod(fd, mode) == 0;
    int error = errno;
    ::close(fd);
    if (ok) {
        QFile check;
        ok = OpenNativeFile(check, temp, O_RDONLY, QIODevice::ReadOnly) && check.readAll() == data;
        if (!ok) error = EIO;
    }
    if (ok && renameNoReplace(temp, path)) return true;
    if (ok) error = errno;
    ::unlink(temp.constData());
    errno = error;
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

bool FileOperationRunning() {
    return operationRunning();
}

bool ShellFileOp(TFileOp operation, const QList<QByteArray>& sources,
                 const QList<QByteArray>& targets) {
    QList<QByteArray> bare;
    for (const QByteArray& s : sources)
        if (!s.isEmpty()) bare.append(s.size() > 1 ? DropSlash(s) : s);
    if (bare.isEmpty()) return false;
    if (operationRunning()) {
        if (prompts().Error)
            prompts().Error(
                tr("Another file operation is still running. Try again when it has "
                   "finished."));
        return false;
    }
    struct Running {
        Running() { operationRunning() = true; }
        ~Running() { operationRunning() = false; }
    } running;
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
