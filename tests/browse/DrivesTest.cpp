#include <QDir>
#include <QTemporaryDir>
#include <vector>

#include <gtest/gtest.h>

#include "browse/ShellHelpers.h"

namespace {

const char* const kMountInfo =
    "22 28 0:21 / /proc rw,nosuid,nodev,noexec,relatime shared:13 - proc proc rw\n"
    "23 28 0:22 / /sys rw,nosuid,nodev,noexec,relatime shared:2 - sysfs sysfs rw\n"
    "24 28 0:5 / /dev rw,nosuid,relatime shared:8 - devtmpfs udev rw,size=8000k\n"
    "25 24 0:23 / /dev/pts rw,nosuid,noexec,relatime shared:9 - devpts devpts rw,gid=5\n"
    "26 28 0:24 / /run rw,nosuid,nodev,noexec shared:11 - tmpfs tmpfs rw,size=1600k\n"
    "28 1 8:2 / / rw,relatime shared:1 - ext4 /dev/sda2 rw,errors=remount-ro\n"
    "29 23 0:26 / /sys/fs/cgroup rw,nosuid shared:4 - cgroup2 cgroup2 rw\n"
    "31 28 0:28 / /tmp rw,nosuid,nodev shared:12 - tmpfs tmpfs rw\n"
    "40 28 0:35 / /mnt/share rw,relatime shared:20 - nfs4 server:/export rw\n"
    "41 28 0:36 / /mnt/win rw shared:21 - cifs //nas/photos rw\n"
    "42 26 11:0 / /run/media/ann/DISC rw shared:22 - iso9660 /dev/sr0 ro\n"
    "43 28 8:17 / /mnt/my\\040stick rw shared:23 - vfat /dev/sdb1 rw\n"
    "44 26 0:40 / /run/user/1000 rw shared:24 - tmpfs tmpfs rw\n"
    "45 22 0:41 / /proc/sys/fs/binfmt_misc rw - binfmt_misc binfmt_misc rw\n"
    "46 28 0:42 / /home/ann/remote rw - fuse.sshfs ann@host:/ rw\n"
    "47 28 0:43 / /mnt/data rw - xfs /dev/sdc1 rw\n"
    "48 28 0:44 / /mnt/data rw - tmpfs tmpfs rw\n"
    "garbage line without fields\n"
    "49 28 0:45 / /dev/mqueue rw - mqueue mqueue rw\n";

struct MessageCapture {
    std::vector<std::pair<TMsgKind, QString>> shown;
    MessageCapture() {
        SetMessageHook([this](TMsgKind kind, const QString& text) {
            shown.emplace_back(kind, text);
            return true;
        });
    }
    ~MessageCapture() { SetMessageHook(nullptr); }
};

}  // namespace

TEST(Drives, MountInfoLeavesPseudoAndSystemMountsOut) {
    const QList<TDriveInfo> drives = ParseMountInfo(QString::fromLatin1(kMountInfo));
    QStringList points;
    for (const TDriveInfo& d : drives)
        points << d.MountPoint;
    EXPECT_EQ(points, QStringList({"/", "/tmp", "/mnt/share", "/mnt/win", "/run/media/ann/DISC",
                                   "/mnt/my stick", "/home/ann/remote", "/mnt/data"}));
}

TEST(Drives, RowsCarryRootCaptionAndKind) {
    const QList<TDriveInfo> drives = ParseMountInfo(QString::fromLatin1(kMountInfo));
    ASSERT_EQ(drives.size(), 8);
    EXPECT_EQ(drives[0].Root, "/");
    EXPECT_EQ(drives[0].Caption, " (/)  /dev/sda2");
    EXPECT_EQ(drives[0].FsType, "ext4");
    EXPECT_EQ(drives[1].Kind, dkRamDisk);
    EXPECT_EQ(drives[1].Root, "/tmp/");
    EXPECT_EQ(drives[2].Kind, dkRemote);
    EXPECT_EQ(drives[2].Caption, " (/mnt/share)  server:/export");
    EXPECT_EQ(drives[3].Kind, dkRemote);
    EXPECT_EQ(drives[4].Kind, dkCDRom);
    EXPECT_EQ(drives[5].Root, "/mnt/my stick/");
    EXPECT_EQ(drives[6].Kind, dkRemote);
    // The later mount on /mnt/data hides the earlier one.
    EXPECT_EQ(drives[7].FsType, "tmpfs");
    EXPECT_EQ(drives[7].Kind, dkRamDisk);
}

TEST(Drives, KindsFromFileSystemAndDevice) {
    EXPECT_EQ(DriveKindOf("ramfs", "ramfs"), dkRamDisk);
    EXPECT_EQ(DriveKindOf("udf", "/dev/sr0"), dkCDRom);
    EXPECT_EQ(DriveKindOf("smb3", "//host/share"), dkRemote);
    EXPECT_EQ(DriveKindOf("overlay", "overlay"), dkUnknown);
    // A block device that sysfs does not know is an ordinary fixed disk.
    EXPECT_EQ(DriveKindOf("ext4", "/dev/no-such-disk-here"), dkFixed);
    EXPECT_TRUE(IsPseudoFileSystem("proc"));
    EXPECT_TRUE(IsPseudoFileSystem("sysfs"));
    EXPECT_TRUE(IsPseudoFileSystem("cgroup"));
    EXPECT_FALSE(IsPseudoFileSystem("ext4"));
    EXPECT_FALSE(IsPseudoFileSystem("tmpfs"));
    EXPECT_EQ(DriveKindText(dkFixed, lnEnglish), "Fixed Disk");
    EXPECT_EQ(DriveKindText(dkRemovable, lnGerman), "Disketten-Laufwerk");
    EXPECT_EQ(DriveKindText(7, lnEnglish, "kept"), "kept");
    EXPECT_EQ(DriveKindText(-1, lnEnglish, "kept"), "kept");
}

TEST(Drives, RealMountTable) {
    const QList<TDriveInfo> drives = EnumerateDrives();
    for (const TDriveInfo& d : drives) {
        EXPECT_FALSE(IsPseudoFileSystem(d.FsType)) << d.FsType.toStdString();
        EXPECT_FALSE(d.MountPoint.startsWith("/proc") || d.MountPoint.startsWith("/sys"))
            << d.MountPoint.toStdString();
        EXPECT_TRUE(d.Root.endsWith('/'));
        EXPECT_TRUE(d.Caption.startsWith(" (" + d.MountPoint + ")  "));
        EXPECT_EQ(MountedDriveKind(d.Root), d.Kind);
    }
    EXPECT_EQ(MountedDriveKind("/no/such/mount"), -1);
}

TEST(Drives, SizesAndReadiness) {
    EXPECT_GT(DriveSizeKB("/"), 0);
    EXPECT_GE(DriveSizeKB("/"), DriveFreeKB("/"));
    EXPECT_EQ(DriveSizeKB("/no/such/drive/"), 0);
    EXPECT_EQ(DriveFreeKB(""), 0);
    EXPECT_EQ(DriveKind("/no/such/drive/"), dkNoRootDir);

    MessageCapture capture;
    EXPECT_TRUE(DiskReady("/", true));
    EXPECT_TRUE(capture.shown.empty());
    EXPECT_FALSE(DiskReady("/no/such/drive/", false));
    EXPECT_TRUE(capture.shown.empty());
    EXPECT_FALSE(DiskReady("/no/such/drive/", true));
    ASSERT_EQ(capture.shown.size(), 1u);
    EXPECT_EQ(capture.shown[0].first, mkWarning);
    EXPECT_EQ(capture.shown[0].second, "There is no disk in Drive or Drive is not ready");
    // Not a path: "Not a valid Drive ID", then the query still runs (and fails).
    capture.shown.clear();
    EXPECT_FALSE(DiskReady("x", true));
    ASSERT_EQ(capture.shown.size(), 2u);
    EXPECT_EQ(capture.shown[0].first, mkError);
    EXPECT_EQ(capture.shown[0].second, "Not a valid Drive ID");
    EXPECT_EQ(capture.shown[1].first, mkWarning);
}
