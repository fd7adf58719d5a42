#include "browse/Trash.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "browse/NativePath.h"

using namespace native;

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("ShellFileOp", text);
}

// A trash folder (with files/ and info/ in it) and the top folder its Path= entries are
// relative to (empty for the home trash, whose entries are absolute).
struct TrashFolder {
    QByteArray Root;
    QByteArray Top;
};

bool makePrivateFolder(const QByteArray& path) {
    if (::mkdir(path.constData(), 0700) == 0) return true;
    return errno == EEXIST && isRealDir(path);
}

// The folder a file system is mounted on, for a folder on it.
QByteArray mountTop(const QByteArray& folder, dev_t device) {
    char resolved[PATH_MAX];
    if (::realpath(folder.constData(), resolved) == nullptr) return QByteArray();
    QByteArray top(resolved);
    while (top != "/") {
        const QByteArray parent = top.left(std::max<qsizetype>(1, top.lastIndexOf('/')));
        struct stat st {};
        if (::stat(parent.constData(), &st) != 0 || st.st_dev != device) break;
        top = parent;
    }
    return top;
}

// The trash that takes an entry without copying it: the home trash for entries on its file
// system, otherwise the top folder's own (.Trash/<uid> where the administrator made a sticky
// .Trash, else .Trash-<uid>). Empty on success, else why there is none.
QString trashFor(const QByteArray& path, TrashFolder& trash) {
    struct stat entry {};
    if (!lstatPath(path, entry)) return errnoText();
    const QByteArray data =
        QFile::encodeName(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation));
    const QByteArray uid = QByteArray::number(::getuid());
    struct stat dataSt {};
    QDir().mkpath(QFile::decodeName(data));
    if (::stat(data.constData(), &dataSt) == 0 && dataSt.st_dev == entry.st_dev) {
        trash = {data + "/Trash", QByteArray()};
    } else {
        const QByteArray top = mountTop(FolderOf(path), entry.st_dev);
        if (top.isEmpty()) return errnoText();
        const QByteArray base = top == "/" ? QByteArray() : top;
        struct stat shared {};
        const QByteArray admin = base + "/.Trash";
        if (lstatPath(admin, shared) && S_ISDIR(shared.st_mode) && (shared.st_mode & S_ISVTX) &&
            makePrivateFolder(admin + '/' + uid))
            trash = {admin + '/' + uid, top};
        else
            trash = {base + "/.Trash-" + uid, top};
    }
    if (!makePrivateFolder(trash.Root) || !makePrivateFolder(trash.Root + "/files") ||
        !makePrivateFolder(trash.Root + "/info"))
        return tr("the trash folder \"%1\" cannot be made: %2").arg(shown(trash.Root), errnoText());
    return QString();
}

// The name an entry gets in the trash: its own, shortened (at a character boundary, the
// extension kept) so that a number and ".trashinfo" still fit the name length limit.
QByteArray trashName(const QByteArray& name) {
    constexpr qsizetype kLimit = 255 - 10 - 6;  // ".trashinfo", "." and up to five digits
    if (name.size() <= kLimit) return name;
    const qsizetype dot = name.lastIndexOf('.');
    const QByteArray ext = dot > 0 && name.size() - dot <= 16 ? name.mid(dot) : QByteArray();
    qsizetype keep = kLimit - ext.size();
    while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80)
        --keep;  // not inside a UTF-8 character
    return name.left(keep) + ext;
}

}  // namespace

QString MoveToTrash(const QByteArray& path) {
    TrashFolder trash;
    const QString why = trashFor(path, trash);
    if (!why.isEmpty()) return why;
    QByteArray recorded = path;
    if (!trash.Top.isEmpty() && trash.Top != "/" && path.startsWith(trash.Top + '/'))
        recorded = path.mid(trash.Top.size() + 1);
    const QByteArray name = trashName(LastName(path));
    const QByteArray date = QDateTime::currentDateTime().toString(Qt::ISODate).left(19).toLatin1();
    const QByteArray text =
        "[Trash Info]\nPath=" + recorded.toPercentEncoding("/") + "\nDeletionDate=" + date + '\n';
    for (int n = 1; n < 100000; ++n) {
        const QByteArray free = n == 1 ? name : name + '.' + QByteArray::number(n);
        const QByteArray info = trash.Root + "/info/" + free + ".trashinfo";
        const QByteArray place = trash.Root + "/files/" + free;
        if (existsNoFollow(place)) continue;  // never replaced
        const int fd = ::open(info.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return tr("its record in \"%1\" cannot be written: %2")
                .arg(shown(trash.Root + "/info"), errnoText());
        }
        const bool written = writeAll(fd, text.constData(), text.size()) && ::fsync(fd) == 0;
        const int writeError = errno;
        ::close(fd);
        if (!written) {
            ::unlink(info.constData());
            return tr("its record in \"%1\" cannot be written: %2")
                .arg(shown(trash.Root + "/info"), errorText(writeError));
        }
        if (::rename(path.constData(), place.constData()) == 0) return QString();
        const int moveError = errno;
        ::unlink(info.constData());
        return errorText(moveError);
    }
    return tr("the trash holds too many entries of this name.");
}
