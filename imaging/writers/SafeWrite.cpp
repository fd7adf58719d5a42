#include "imaging/writers/SafeWrite.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

TFileStamp StampOf(const struct stat& st) {
    TFileStamp stamp;
    stamp.exists = true;
    stamp.size = static_cast<uint64_t>(st.st_size);
    stamp.mtimeNs = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    stamp.inode = static_cast<uint64_t>(st.st_ino);
    return stamp;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// "Cannot save "name": reason" with the system's reason for err.
[[noreturn]] void Fail(const std::string& target, const std::string& reason) {
    throw ESafeWrite("Cannot save \"" + target + "\": " + reason);
}

std::string SystemReason(int err) {
    switch (err) {
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return "the disk is full (" + std::string(std::strerror(err)) +
                   "). The original file was not changed.";
        case EROFS:
            return "the folder is on a read-only file system.";
        case EACCES:
        case EPERM:
            return "no permission to write in the folder.";
        default:
            return std::strerror(err);
    }
}

// The temporary file: removed on leaving unless released after the rename.
class TTempFile {
  public:
    explicit TTempFile(const std::string& target) {
        const size_t slash = target.rfind('/');
        const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
        const size_t dot = name.rfind('.');
        const std::string extension = dot == std::string::npos ? "" : name.substr(dot);
        path_ = FolderOf(target) + "/." + name + ".velkaro-XXXXXX" + extension;
        fd_ = mkstemps(path_.data(), static_cast<int>(extension.size()));
        if (fd_ < 0) Fail(target, SystemReason(errno));
    }
    ~TTempFile() {
        if (fd_ >= 0) close(fd_);
        if (!released_) unlink(path_.c_str());
    }
    int Fd() const { return fd_; }
    const std::string& Path() const { return path_; }
    // Closes the file; returns errno of a failed close (a late write error) or 0.
    int Close() {
        const int rc = close(fd_);
        fd_ = -1;
        return rc == 0 ? 0 : errno;
    }
    void Release() { released_ = true; }

  private:
    std::string path_;
    int fd_ = -1;
    bool released_ = false;
};

// Whether the file holds exactly data.
bool SameContent(const std::string& path, const std::vector<uint8_t>& data) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    std::vector<uint8_t> buffer(size_t(1) << 20);
    size_t done = 0;
    bool same = true;
    for (;;) {
        const ssize_t n = read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            same = n == 0 && done == data.size();
            break;
        }
        if (done + size_t(n) > data.size() ||
            std::memcmp(buffer.data(), data.data() + done, size_t(n)) != 0) {
            same = false;
            break;
        }
        done += size_t(n);
    }
    close(fd);
    return same;
}

}  // namespace

TFileStamp FileStamp(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return {};
    return StampOf(st);
}

void SafeWriteFile(const std::string& name, const std::vector<uint8_t>& data,
                   const TSafeWriteOptions& options) {
    // A symbolic link stays one: the file it leads to is replaced, beside itself.
    std::string target = name;
    struct stat link;
    if (lstat(name.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        char* resolved = realpath(name.c_str(), nullptr);
        if (resolved == nullptr) Fail(name, SystemReason(errno));
        target = resolved;
        std::free(resolved);
    }
    struct stat original;
    const bool exists = stat(target.c_str(), &original) == 0;
    const auto checkUnchanged = [&] {
        if (options.expected == nullptr) return;
        const TFileStamp now = FileStamp(target);
        if (now != *options.expected)
            Fail(target, "the file was changed by another program since it was shown.");
    };
    checkUnchanged();
    if (exists && !S_ISREG(original.st_mode)) Fail(target, "it is not a regular file.");

    TTempFile temp(target);
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = write(temp.Fd(), data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) Fail(target, SystemReason(n < 0 ? errno : ENOSPC));
        done += static_cast<size_t>(n);
    }
    // The permissions of the replaced file, else those a new file gets.
    mode_t mode;
    if (exists) {
        mode = original.st_mode & 07777;
        // Keeping the owner is possible only for root; others keep their own.
        if (fchown(temp.Fd(), original.st_uid, original.st_gid) != 0) mode &= 0777;
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    if (fchmod(temp.Fd(), mode) != 0) Fail(target, SystemReason(errno));
    if (fsync(temp.Fd()) != 0) Fail(target, SystemReason(errno));
    struct stat timeSource = original;
    const bool haveTime =
        options.keepTime &&
        (options.timeFrom.empty() ? exists : stat(options.timeFrom.c_str(), &timeSource) == 0);
    if (haveTime) {
        const struct timespec times[2] = {timeSource.st_atim, timeSource.st_mtim};
        if (futimens(temp.Fd(), times) != 0) Fail(target, SystemReason(errno));
    }
    if (const int err = temp.Close(); err != 0) Fail(target, SystemReason(err));

    // Read back: the bytes on disk, then the caller's decode.
    if (!SameContent(temp.Path(), data))
        Fail(target,
             "the written file does not read back as written. The original file was not "
             "changed.");
    if (options.check) {
        try {
            options.check(temp.Path());
        } catch (const std::exception& e) {
            Fail(target, std::string("the written file does not read back (") + e.what() +
                             "). The original file was not changed.");
        }
    }
    checkUnchanged();
    if (rename(temp.Path().c_str(), target.c_str()) != 0) Fail(target, SystemReason(errno));
    temp.Release();
    // The rename itself reaches the disk with the folder.
    const int folder = open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        fsync(folder);
        close(folder);
    }
}
