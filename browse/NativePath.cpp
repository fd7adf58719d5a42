#include "browse/NativePath.h"

#include <dirent.h>
#include <unistd.h>

#include <QFile>
#include <cerrno>
#include <cstring>

namespace native {

QString errorText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

QString errnoText() {
    return errorText(errno);
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

// The names in a folder without "." and "..", in no particular order. False, with errno set,
// when the folder cannot be read whole.
bool readFolder(const QByteArray& path, QList<QByteArray>& names) {
    names.clear();
    DIR* dir = ::opendir(path.constData());
    if (dir == nullptr) return false;
    errno = 0;
    while (const dirent* e = ::readdir(dir)) {
        const QByteArray name(e->d_name);
        if (name != "." && name != "..") names.append(name);
        errno = 0;
    }
    const int error = errno;
    ::closedir(dir);
    errno = error;
    return error == 0;
}

QList<QByteArray> folderNames(const QByteArray& path) {
    QList<QByteArray> names;
    readFolder(path, names);
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

// Whether the entry shows as a folder: a folder, or a link to one.
bool showsAsFolder(const QByteArray& path) {
    struct stat st {};
    return ::stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Whether two paths name one file or folder, links resolved (a link and what it points to,
// two hard links, a folder reached through a linked folder).
bool sameFile(const QByteArray& a, const QByteArray& b) {
    struct stat sa {
    }, sb{};
    if (::stat(a.constData(), &sa) != 0 || ::stat(b.constData(), &sb) != 0) {
        // A dangling link is only itself.
        if (!lstatPath(a, sa) || !lstatPath(b, sb)) return false;
    }
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

Stamp Stamp::of(const struct stat& st) {
    return {st.st_dev, st.st_ino, st.st_size, st.st_mode, st.st_mtim};
}

bool Stamp::operator==(const Stamp& o) const {
    return dev == o.dev && ino == o.ino && size == o.size && mode == o.mode &&
           mtime.tv_sec == o.mtime.tv_sec && mtime.tv_nsec == o.mtime.tv_nsec;
}

std::optional<Stamp> stampAt(const QByteArray& path) {
    struct stat st {};
    if (!lstatPath(path, st)) return std::nullopt;
    return Stamp::of(st);
}

// Writes the whole buffer; false with errno set (ENOSPC for a full disk, never a silent short
// write).
bool writeAll(int fd, const char* data, qint64 size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(size));
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

// Removes a file, a link or a whole folder tree (links are removed, never followed).
bool removeTree(const QByteArray& path) {
    if (!existsNoFollow(path)) return true;  // gone already
    if (!isRealDir(path)) return ::unlink(path.constData()) == 0 || errno == ENOENT;
    bool ok = true;
    QList<QByteArray> names;
    if (!readFolder(path, names)) return ::rmdir(path.constData()) == 0;  // empty, perhaps
    for (const QByteArray& name : names)
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

}  // namespace native
