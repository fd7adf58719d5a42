#pragma once
// Paths as the bytes the file system names entries by, and the small file-system steps the
// file operations and the trash share. A name that is not valid in the locale's encoding loses
// bytes in a QString, and the lossy text may name another entry, so every call here takes the
// bytes.
#include <sys/stat.h>
#include <sys/types.h>

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

namespace native {

// strerror's text of an error number, and of errno.
QString errorText(int error);
QString errnoText();
// The path as text for messages.
QString shown(const QByteArray& path);

QByteArray AddSlash(const QByteArray& path);
QByteArray DropSlash(const QByteArray& path);
QByteArray JoinPath(const QByteArray& folder, const QByteArray& name);
QByteArray LastName(const QByteArray& path);
// The folder part with a trailing "/".
QByteArray FolderOf(const QByteArray& path);

// The names in a folder without "." and "..", in no particular order. False, with errno set,
// when the folder cannot be read whole.
bool readFolder(const QByteArray& path, QList<QByteArray>& names);
// The same, empty when the folder cannot be read.
QList<QByteArray> folderNames(const QByteArray& path);

bool lstatPath(const QByteArray& path, struct stat& st);
bool existsNoFollow(const QByteArray& path);
// A folder itself, not a link to one.
bool isRealDir(const QByteArray& path);
// Whether the entry shows as a folder: a folder, or a link to one.
bool showsAsFolder(const QByteArray& path);
// Whether two paths name one file or folder, links resolved (a link and what it points to,
// two hard links, a folder reached through a linked folder).
bool sameFile(const QByteArray& a, const QByteArray& b);

// What identifies an entry's state: which entry it is, its size and its last change.
struct Stamp {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    mode_t mode = 0;
    struct timespec mtime {};

    static Stamp of(const struct stat& st);
    bool operator==(const Stamp& o) const;
};
// The entry's stamp, links not followed; none when nothing is there.
std::optional<Stamp> stampAt(const QByteArray& path);

// Writes the whole buffer; false with errno set (ENOSPC for a full disk, never a silent short
// write).
bool writeAll(int fd, const char* data, qint64 size);
// Removes a file, a link or a whole folder tree (links are removed, never followed).
bool removeTree(const QByteArray& path);
// Total bytes of the regular files below a path.
qint64 treeSize(const QByteArray& path);

}  // namespace native
