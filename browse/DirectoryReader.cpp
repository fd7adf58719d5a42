#include "browse/DirectoryReader.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "browse/ShellHelpers.h"

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
        e.attributes = EntryAttributes(st.st_mode, e.native);
        if (!access_->MayWrite(st)) e.attributes |= faReadOnly;
        e.size = S_ISDIR(st.st_mode) ? 0 : static_cast<qint64>(st.st_size);
        e.fileTime = FileTimeFromUnix(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
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

}  // namespace

QString ReadFolderRows(const TFolderListing& listing, std::vector<TListRow>& rows) {
    const QString& folder = listing.folder;
    TDirectoryReader reader(folder);
    const quint32 filter = listing.filter;
    const bool isRoot = folder == QLatin1String("/");
    const QByteArray nativeFolder = QFile::encodeName(folder);

    auto append = [&](TDirEntry& e, bool parentEntry) {
        TListRow row;
        row.parent = parentEntry;
        row.kind = (e.attributes & faDirectory) ? rkDir : rkFile;
        row.path = folder + e.name;
        if (e.lossy) row.native = nativeFolder + e.native;
        if (parentEntry) {
            row.caption = listing.parentCaption;
            row.image = listing.parentImage;
        } else if (listing.hideFileExt) {
            row.caption = NameWithoutExt(e.name);
        } else {
            row.caption = e.name;
        }
        row.size = e.size;
        row.fileTime = e.fileTime;
        row.attributes = e.attributes;
        rows.push_back(std::move(row));
    };

    if (!reader.Ok()) {
        // The list says why it is empty and keeps the way back to the containing folder.
        const QString message = QString::fromLocal8Bit(std::strerror(reader.Error()));
        if (!listing.showFolders || !listing.parentDirEnabled || isRoot) return message;
        TDirEntry up;
        up.native = QByteArrayLiteral("..");
        up.name = QStringLiteral("..");
        up.attributes = faDirectory;
        const QString trimmed = DropSlash(folder);
        struct stat st {};
        if (::stat(QFile::encodeName(trimmed.left(trimmed.lastIndexOf(u'/') + 1)).constData(),
                   &st) == 0)
            up.fileTime = FileTimeFromUnix(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
        append(up, true);
        return message;
    }
    std::vector<TDirEntry>& entries = reader.Entries();

    // One pass over the folder's listing per pattern, on the listing read once.
    if (listing.showFolders) {
        const quint32 f = filter | faDirectory;
        for (TDirEntry& e : entries) {
            if (e.name == u".") continue;
            const bool dotDot = e.name == u"..";
            if (dotDot && (!listing.parentDirEnabled || isRoot)) continue;
            if (!reader.IsFolder(e)) continue;
            reader.Stat(e);
            if (!e.exists || !PassesFilter(e.attributes, f)) continue;
            append(e, dotDot);
        }
    }

    QString masks = listing.mask.trimmed();
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

    if (!listing.sniffText) return {};
    int sniffed = 0;
    for (TDirEntry& e : entries) {
        if (sniffed >= MaxSniffedFiles) break;
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
    return {};
}

void ReadDriveRows(TLanguage language, std::vector<TListRow>& rows) {
    for (const TDriveInfo& drive : EnumerateDrives()) {
        TListRow row;
        row.kind = rkDrive;
        row.driveKind = drive.Kind;
        row.caption = drive.Caption;
        row.path = drive.Root;
        row.image = DriveIconIndex(drive.Kind);
        row.texts[0] = DriveKindText(drive.Kind, language);
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
        rows.push_back(std::move(row));
    }
}

bool LooksLikeText(const char* data, qsizetype size) {
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
