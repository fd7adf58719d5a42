// The "Drives" view on Linux: mounted file systems from /proc/self/mountinfo, their kinds,
// sizes and readiness.

#include <sys/statvfs.h>

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "browse/ShellHelpers.h"

namespace {

// mountinfo escapes blanks, tabs, newlines and backslashes as \ooo octal.
QString unescapeMount(const QByteArray& field) {
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        const char c = field.at(i);
        if (c == '\\' && i + 3 < field.size()) {
            const QByteArray digits = field.mid(i + 1, 3);
            bool ok = digits.size() == 3;
            for (const char d : digits)
                ok = ok && d >= '0' && d <= '7';
            if (ok) {
                out.append(static_cast<char>(digits.toInt(nullptr, 8)));
                i += 3;
                continue;
            }
        }
        out.append(c);
    }
    return QString::fromUtf8(out);
}

// Mount points below these folders belong to the system, not to the user.
bool isSystemMountPoint(const QString& mountPoint) {
    static const char* const hidden[] = {"/proc",           "/sys",     "/dev", "/run", "/snap",
                                         "/var/lib/docker", "/var/snap"};
    for (const char* prefix : hidden) {
        const QString p = QString::fromLatin1(prefix);
        if (mountPoint == p || mountPoint.startsWith(p + u'/')) {
            // Desktops mount removable media below /run/media.
            if (p == u"/run" && mountPoint.startsWith(QLatin1String("/run/media/"))) return false;
            return true;
        }
    }
    return false;
}

bool isNetworkFileSystem(const QString& fsType) {
    static const QSet<QString> network = {
        "nfs",           "nfs4",           "cifs",        "smb3",
        "smbfs",         "ncpfs",          "afs",         "9p",
        "ceph",          "glusterfs",      "sshfs",       "fuse.sshfs",
        "davfs",         "fuse.davfs",     "fuse.davfs2", "fuse.rclone",
        "fuse.s3fs",     "lustre",         "coda",        "fuse.glusterfs",
        "fuse.smbnetfs", "fuse.curlftpfs", "ftpfs",       "webdav"};
    return network.contains(fsType);
}

QString readSysFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return QString();
    return QString::fromLatin1(f.read(64)).trimmed();
}

// Whether a block device (or the disk a partition belongs to) is marked removable.
bool isRemovableBlockDevice(const QString& device) {
    const QString name = QFileInfo(QFileInfo(device).canonicalFilePath()).fileName();
    if (name.isEmpty()) return false;
    const QString sys = QStringLiteral("/sys/class/block/") + name;
    if (!QFileInfo::exists(sys)) return false;
    if (readSysFile(sys + QStringLiteral("/removable")) == u"1") return true;
    if (QFileInfo::exists(sys + QStringLiteral("/partition"))) {
        const QString disk = QFileInfo(QFileInfo(sys).canonicalFilePath()).absolutePath();
        return readSysFile(disk + QStringLiteral("/removable")) == u"1";
    }
    return false;
}

// Labels of block devices from /dev/disk/by-label (device path -> label).
QHash<QString, QString> deviceLabels() {
    QHash<QString, QString> labels;
    QDirIterator it(QStringLiteral("/dev/disk/by-label"), QDir::System | QDir::Files);
    while (it.hasNext()) {
        it.next();
        const QString device = QFileInfo(it.filePath()).canonicalFilePath();
        if (device.isEmpty()) continue;
        labels.insert(device, unescapeMount(it.fileName().toUtf8().replace("\\x20", "\\040")));
    }
    return labels;
}

QHash<QString, int>& mountKinds() {
    static QHash<QString, int> kinds;
    return kinds;
}
bool& mountKindsRead() {
    static bool read = false;
    return read;
}

}  // namespace

bool IsPseudoFileSystem(const QString& fsType) {
    static const QSet<QString> pseudo = {
        "proc",        "sysfs",           "cgroup",      "cgroup2",      "devpts",
        "mqueue",      "debugfs",         "tracefs",     "securityfs",   "pstore",
        "bpf",         "configfs",        "fusectl",     "hugetlbfs",    "autofs",
        "binfmt_misc", "efivarfs",        "devtmpfs",    "rpc_pipefs",   "nsfs",
        "selinuxfs",   "fuse.gvfsd-fuse", "fuse.portal", "fuse.lxcfs",   "nfsd",
        "usbfs",       "sockfs",          "pipefs",      "anon_inodefs", "ramfs-internal"};
    return pseudo.contains(fsType);
}

TDriveKind DriveKindOf(const QString& fsType, const QString& device) {
    if (fsType == u"tmpfs" || fsType == u"ramfs") return dkRamDisk;
    if (fsType == u"iso9660" || fsType == u"udf") return dkCDRom;
    if (isNetworkFileSystem(fsType) || device.startsWith(QLatin1String("//"))) return dkRemote;
    if (device.startsWith(QLatin1String("/dev/")))
        return isRemovableBlockDevice(device) ? dkRemovable : dkFixed;
    return dkUnknown;
}

QString DriveCaption(const QString& mountPoint, const QString& labelOrDevice) {
    return QStringLiteral(" (") + mountPoint + QStringLiteral(")  ") + labelOrDevice;
}

QList<TDriveInfo> ParseMountInfo(const QString& mountInfo) {
    QList<TDriveInfo> drives;
    const QByteArray text = mountInfo.toUtf8();
    for (const QByteArray& line : text.split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        // id parent major:minor root mount-point options [optional...] - type source super
        const qsizetype dash = fields.indexOf("-");
        if (fields.size() < 7 || dash < 6 || dash + 2 >= fields.size()) continue;
        TDriveInfo d;
        d.MountPoint = unescapeMount(fields.at(4));
        d.FsType = unescapeMount(fields.at(dash + 1));
        d.Device = unescapeMount(fields.at(dash + 2));
        if (!d.MountPoint.startsWith(PathDelim)) continue;
        if (IsPseudoFileSystem(d.FsType) || isSystemMountPoint(d.MountPoint)) continue;
        d.Root = AddSlash(d.MountPoint);
        d.Kind = DriveKindOf(d.FsType, d.Device);
        d.Label = d.Device;
        d.Caption = DriveCaption(d.MountPoint, d.Label);
        // A later mount on the same point hides the earlier one.
        drives.removeIf([&d](const TDriveInfo& e) { return e.MountPoint == d.MountPoint; });
        drives.append(d);
    }
    return drives;
}

QList<TDriveInfo> EnumerateDrives() {
    QFile f(QStringLiteral("/proc/self/mountinfo"));
    QList<TDriveInfo> drives;
    if (f.open(QIODevice::ReadOnly)) drives = ParseMountInfo(QString::fromUtf8(f.readAll()));
    const QHash<QString, QString> labels = deviceLabels();
    QHash<QString, int>& kinds = mountKinds();
    kinds.clear();
    QList<TDriveInfo> result;
    for (TDriveInfo& d : drives) {
        // Files bind-mounted into containers (/etc/hosts and the like) are no drives.
        if (!QFileInfo(d.MountPoint).isDir()) continue;
        if (d.Device.startsWith(QLatin1String("/dev/"))) {
            const QString label = labels.value(QFileInfo(d.Device).canonicalFilePath());
            if (!label.isEmpty()) {
                d.Label = label;
                d.Caption = DriveCaption(d.MountPoint, d.Label);
            }
        }
        kinds.insert(d.MountPoint, d.Kind);
        result.append(d);
    }
    mountKindsRead() = true;
    return result;
}

int MountedDriveKind(const QString& folder) {
    if (!mountKindsRead()) EnumerateDrives();
    const QString p = folder.size() > 1 ? DropSlash(folder) : folder;
    return mountKinds().value(p, -1);
}

TDriveKind DriveKind(const QString& root) {
    if (root.isEmpty() || !QFileInfo(root).isDir()) return dkNoRootDir;
    const QList<TDriveInfo> drives = EnumerateDrives();
    // The drive of a folder is the mount with the longest matching mount point.
    const QString path = AddSlash(QFileInfo(root).absoluteFilePath());
    const TDriveInfo* best = nullptr;
    for (const TDriveInfo& d : drives)
        if (path.startsWith(d.Root) && (best == nullptr || d.Root.size() > best->Root.size()))
            best = &d;
    return best == nullptr ? dkUnknown : best->Kind;
}

namespace {

// A network mount whose server is gone blocks statvfs for minutes. The query runs on a helper
// thread and is given up after a while, so listing drives never freezes the window; a thread
// that is still blocked ends on its own when the call finally returns.
constexpr auto kFileSystemQueryTimeout = std::chrono::seconds(2);

bool queryFileSystem(const QString& root, struct statvfs& st) {
    if (root.isEmpty()) return false;
    struct Query {
        std::mutex lock;
        std::condition_variable finished;
        bool done = false;
        bool ok = false;
        struct statvfs result {};
    };
    const QByteArray path = QFile::encodeName(root);
    auto query = std::make_shared<Query>();
    try {
        std::thread([query, path] {
            struct statvfs result {};
            const bool ok = ::statvfs(path.constData(), &result) == 0;
            std::lock_guard guard(query->lock);
            query->ok = ok;
            query->result = result;
            query->done = true;
            query->finished.notify_one();
        }).detach();
    } catch (const std::system_error&) {
        return ::statvfs(path.constData(), &st) == 0;  // no thread to be had: ask directly
    }
    std::unique_lock guard(query->lock);
    if (!query->finished.wait_for(guard, kFileSystemQueryTimeout, [&] { return query->done; }))
        return false;
    st = query->result;
    return query->ok;
}

}  // namespace

qint64 DriveSizeKB(const QString& root) {
    struct statvfs st {};
    if (!queryFileSystem(root, st)) return 0;  // -1 div 1024 in the classic API
    return static_cast<qint64>(static_cast<quint64>(st.f_blocks) * st.f_frsize / 1024);
}

qint64 DriveFreeKB(const QString& root) {
    struct statvfs st {};
    if (!queryFileSystem(root, st)) return 0;
    return static_cast<qint64>(static_cast<quint64>(st.f_bavail) * st.f_frsize / 1024);
}

bool DiskReady(const QString& root, bool withMessages) {
    if (root.isEmpty() || !root.startsWith(PathDelim))
        ShowBrowseMessage(mkError, MessageText(msgInvalidDrive));
    struct statvfs st {};
    const bool ready = queryFileSystem(root, st);
    if (!ready && withMessages) {
        QApplication::beep();
        ShowBrowseMessage(mkWarning, MessageText(msgDriveNotReady));
    }
    return ready;
}
