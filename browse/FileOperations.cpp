// Copy, move, rename and delete-to-trash for the file-browsing components, with our own
// confirmation, conflict and progress dialogs.

#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
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
                .arg(LastName(path)));
    };
    p.Error = [](const QString& message) { ShowBrowseMessage(mkError, message); };
    return p;
}

TFileOpPrompts& prompts() {
    static TFileOpPrompts instance = defaultPrompts();
    return instance;
}

QByteArray native(const QString& path) {
    return QFile::encodeName(path);
}

bool lstatPath(const QString& path, struct stat& st) {
    return ::lstat(native(path).constData(), &st) == 0;
}

bool existsNoFollow(const QString& path) {
    struct stat st {};
    return lstatPath(path, st);
}

bool isRealDir(const QString& path) {
    struct stat st {};
    return lstatPath(path, st) && S_ISDIR(st.st_mode);
}

QString errnoText() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

// Removes a file, a link or a whole folder tree (links are removed, never followed).
bool removeTree(const QString& path) {
    if (!isRealDir(path)) return ::unlink(native(path).constData()) == 0;
    QDir dir(path);
    bool ok = true;
    for (const QString& name :
         dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
        ok = removeTree(JoinPath(path, name)) && ok;
    return ok && ::rmdir(native(path).constData()) == 0;
}

// Total bytes below a path, for the progress dialog.
qint64 treeSize(const QString& path) {
    struct stat st {};
    if (!lstatPath(path, st)) return 0;
    if (!S_ISDIR(st.st_mode)) return S_ISREG(st.st_mode) ? st.st_size : 0;
    qint64 total = 0;
    QDir dir(path);
    for (const QString& name :
         dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
        total += treeSize(JoinPath(path, name));
    return total;
}

// "name (copy).ext", "name (copy 2).ext", ... in the target's folder.
QString copyName(const QString& target) {
    const QString folder = FolderOf(target);
    const QString name = LastName(target);
    const qsizetype dot = isRealDir(target) ? -1 : name.lastIndexOf(u'.');
    const QString stem = dot > 0 ? name.left(dot) : name;
    const QString ext = dot > 0 ? name.mid(dot) : QString();
    for (int n = 1;; ++n) {
        const QString candidate =
            folder + stem + (n == 1 ? tr(" (copy)") : tr(" (copy %1)").arg(n)) + ext;
        if (!existsNoFollow(candidate)) return candidate;
    }
}

class FileOperation {
  public:
    FileOperation(TFileOp op, TFileOpPrompts& p) : op_(op), p_(p) {}
    ~FileOperation() {
        if (progress_) progress_->close();
    }

    bool run(const QStringList& sources, const QStringList& targets);

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
        if (p_.Error) p_.Error(message);
    }
    void advance(qint64 bytes) {
        done_ += bytes;
        if (progress_ && total_ > 0)
            progress_->setValue(static_cast<int>(qMin<qint64>(1000, done_ * 1000 / total_)));
    }
    void startProgress(const QStringList& sources);
    // Answer for an existing target; true to go on and overwrite/merge.
    bool resolveConflict(const QString& source, const QString& target);

    bool copyEntry(const QString& source, const QString& target);
    bool copyFile(const QString& source, const QString& target);
    bool moveEntry(const QString& source, const QString& target);
    void transfer(const QString& source, QString target);
    void removeToTrash(const QString& source);
    void rename(const QString& source, QString target);

    TFileOp op_;
    TFileOpPrompts& p_;
    std::unique_ptr<QProgressDialog> progress_;
    qint64 total_ = 0;
    qint64 done_ = 0;
    bool replaceAll_ = false;
    bool skipAll_ = false;
    bool skipped_ = false;
    bool cancelled_ = false;
    bool failed_ = false;
};

void FileOperation::startProgress(const QStringList& sources) {
    if (!p_.ShowProgress || qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr)
        return;
    if (op_ == foCopy || op_ == foMove)
        for (const QString& s : sources)
            total_ += treeSize(s);
    const QString label = op_ == foCopy   ? tr("Copying...")
                          : op_ == foMove ? tr("Moving...")
                                          : tr("Moving to the Trash...");
    progress_ = std::make_unique<QProgressDialog>(label, tr("Cancel"), 0, 1000,
                                                  QApplication::activeWindow());
    progress_->setWindowTitle(QApplication::applicationName());
    progress_->setWindowModality(Qt::WindowModal);
    progress_->setMinimumDuration(700);
    progress_->setAutoClose(false);
    progress_->setAutoReset(false);
    progress_->setValue(0);
}

bool FileOperation::resolveConflict(const QString& source, const QString& target) {
    if (replaceAll_) return true;
    if (skipAll_) {
        skipped_ = true;
        return false;
    }
    const TConflictAnswer answer = p_.Conflict ? p_.Conflict(source, target) : caCancel;
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

bool FileOperation::copyFile(const QString& source, const QString& target) {
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly)) {
        fail(tr("Cannot read \"%1\": %2").arg(source, in.errorString()));
        return false;
    }
    QFile out(target);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        fail(tr("Cannot create \"%1\": %2").arg(target, out.errorString()));
        return false;
    }
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    for (;;) {
        const qint64 n = in.read(buffer.data(), buffer.size());
        if (n < 0) {
            fail(tr("Cannot read \"%1\": %2").arg(source, in.errorString()));
            break;
        }
        if (n == 0) {
            // Times are set after the last write, which would otherwise update them.
            if (out.flush()) {
                out.setPermissions(in.permissions());
                out.setFileTime(in.fileTime(QFileDevice::FileModificationTime),
                                QFileDevice::FileModificationTime);
                return true;
            }
            fail(tr("Cannot write \"%1\": %2").arg(target, out.errorString()));
            break;
        }
        if (out.write(buffer.constData(), n) != n) {
            fail(tr("Cannot write \"%1\": %2").arg(target, out.errorString()));
            break;
        }
        advance(n);
        if (cancelled()) break;
    }
    // A partial copy is never left behind.
    out.close();
    out.remove();
    return false;
}

bool FileOperation::copyEntry(const QString& source, const QString& target) {
    if (cancelled()) return false;
    struct stat st {};
    if (!lstatPath(source, st)) {
        fail(tr("Cannot find \"%1\": %2").arg(source, errnoText()));
        return false;
    }
    if (existsNoFollow(target)) {
        const bool merge = S_ISDIR(st.st_mode) && isRealDir(target);
        if (!resolveConflict(source, target)) return false;
        if (!merge && !removeTree(target)) {
            fail(tr("Cannot replace \"%1\": %2").arg(target, errnoText()));
            return false;
        }
    }
    if (S_ISLNK(st.st_mode)) {
        const QByteArray link = QFile::encodeName(QFile::symLinkTarget(source));
        QByteArray raw(4096, '\0');
        const ssize_t n = ::readlink(native(source).constData(), raw.data(), raw.size() - 1);
        const QByteArray dest = n > 0 ? raw.left(n) : link;
        if (::symlink(dest.constData(), native(target).constData()) != 0) {
            fail(tr("Cannot create \"%1\": %2").arg(target, errnoText()));
            return false;
        }
        return true;
    }
    if (S_ISDIR(st.st_mode)) {
        if (!isRealDir(target) && ::mkdir(native(target).constData(), st.st_mode & 07777) != 0) {
            fail(tr("Cannot create \"%1\": %2").arg(target, errnoText()));
            return false;
        }
        bool ok = true;
        QDir dir(source);
        for (const QString& name :
             dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
            ok = copyEntry(JoinPath(source, name), JoinPath(target, name)) && ok;
            if (cancelled_) return false;
        }
        return ok && !skipped_;
    }
    if (!S_ISREG(st.st_mode)) {
        fail(tr("\"%1\" is a device, socket or pipe and cannot be copied.").arg(source));
        return false;
    }
    return copyFile(source, target);
}

bool FileOperation::moveEntry(const QString& source, const QString& target) {
    if (cancelled()) return false;
    if (existsNoFollow(target)) {
        const bool merge = isRealDir(source) && isRealDir(target);
        if (!resolveConflict(source, target)) return false;
        if (merge) {
            bool ok = true;
            QDir dir(source);
            for (const QString& name : dir.entryList(QDir::AllEntries | QDir::Hidden |
                                                     QDir::System | QDir::NoDotAndDotDot)) {
                ok = moveEntry(JoinPath(source, name), JoinPath(target, name)) && ok;
                if (cancelled_) return false;
            }
            // The source folder goes only when everything in it has moved.
            if (ok && ::rmdir(native(source).constData()) != 0) ok = false;
            return ok;
        }
        if (!removeTree(target)) {
            fail(tr("Cannot replace \"%1\": %2").arg(target, errnoText()));
            return false;
        }
    }
    const qint64 size = progress_ ? treeSize(source) : 0;
    if (::rename(native(source).constData(), native(target).constData()) == 0) {
        advance(size);
        return true;
    }
    if (errno != EXDEV) {
        fail(tr("Cannot move \"%1\": %2").arg(source, errnoText()));
        return false;
    }
    // Another file system: copy, then remove the source only after a complete copy.
    const bool savedReplace = replaceAll_;
    replaceAll_ = true;  // the target was cleared above; nothing below it can conflict
    const bool copied = copyEntry(source, target);
    replaceAll_ = savedReplace;
    if (!copied) return false;
    if (!removeTree(source)) {
        fail(tr("Cannot remove \"%1\": %2").arg(source, errnoText()));
        return false;
    }
    return true;
}

void FileOperation::transfer(const QString& source, QString target) {
    struct stat st {};
    if (!lstatPath(source, st)) {
        fail(tr("Cannot find \"%1\": %2").arg(source, errnoText()));
        return;
    }
    if (target == source) {
        if (op_ == foMove) return;  // moving onto itself changes nothing
        target = copyName(source);
    }
    if (S_ISDIR(st.st_mode) && target.startsWith(AddSlash(source))) {
        fail(tr("Cannot copy or move \"%1\": the destination folder is inside the source "
                "folder.")
                 .arg(source));
        return;
    }
    if (op_ == foCopy)
        copyEntry(source, target);
    else
        moveEntry(source, target);
}

void FileOperation::removeToTrash(const QString& source) {
    if (!existsNoFollow(source)) {
        fail(tr("Cannot find \"%1\": %2").arg(source, errnoText()));
        return;
    }
    if (QFile::moveToTrash(source)) {
        advance(1);
        return;
    }
    if (p_.ConfirmPermanentDelete && p_.ConfirmPermanentDelete(source)) {
        if (!removeTree(source)) fail(tr("Cannot delete \"%1\": %2").arg(source, errnoText()));
        advance(1);
    } else {
        skipped_ = true;
    }
}

void FileOperation::rename(const QString& source, QString target) {
    if (QDir::isRelativePath(target)) target = FolderOf(source) + target;
    if (target == source) return;
    if (!existsNoFollow(source)) {
        fail(tr("Cannot find \"%1\": %2").arg(source, errnoText()));
        return;
    }
    if (existsNoFollow(target)) {
        fail(tr("Cannot rename \"%1\": \"%2\" already exists.").arg(source, LastName(target)));
        return;
    }
    if (::rename(native(source).constData(), native(target).constData()) != 0)
        fail(tr("Cannot rename \"%1\": %2").arg(source, errnoText()));
}

bool FileOperation::run(const QStringList& sources, const QStringList& targets) {
    if (op_ == foRename) {
        if (sources.size() != 1 || targets.isEmpty()) {
            fail(tr("Cannot rename: one source and one new name are needed."));
            return false;
        }
        rename(sources[0], targets[0]);
        return !failed_;
    }
    if (op_ == foDelete) {
        if (p_.ConfirmDelete && !p_.ConfirmDelete(sources)) return false;
        startProgress(sources);
        if (progress_) {
            total_ = sources.size();
        }
        for (const QString& s : sources) {
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
        const QString& source = sources[i];
        QString target;
        if (pairwise) {
            target = targets[i];
        } else {
            const QString& t = targets[0];
            const QString bare = t.size() > 1 ? DropSlash(t) : t;
            const bool into = t.endsWith(PathDelim) || sources.size() > 1 ||
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

TFileOpPrompts& FileOpPrompts() {
    return prompts();
}

void ResetFileOpPrompts() {
    prompts() = defaultPrompts();
}

bool ShellFileOp(TFileOp operation, const QString& fromList, const QString& toList) {
    QStringList sources;
    for (const QString& s : SplitPathList(TerminateList(fromList)))
        sources.append(s.size() > 1 ? DropSlash(s) : s);
    const QStringList targets = SplitPathList(TerminateList(toList));
    if (sources.isEmpty()) return false;
    FileOperation op(operation, prompts());
    return op.run(sources, targets);
}
