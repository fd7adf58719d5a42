#include "text/TextSource.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

TFileSource::TFileSource(const std::string& nativeName, const std::string& shownName) {
    auto fail = [&](const std::string& reason) {
        throw std::runtime_error("Cannot open file \"" + shownName + "\". " + reason);
    };
    // Non-blocking, so that a pipe nobody writes to cannot hold the window; the type is checked
    // on the descriptor that is read, so the name cannot be swapped in between.
    fd_ = ::open(nativeName.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd_ < 0) {
        const int error = errno;
        struct stat st {};
        if (::stat(nativeName.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
            fail("It is not a regular file");
        fail(std::strerror(error));
    }
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        const bool regular = S_ISREG(st.st_mode);
        const int error = errno;
        ::close(fd_);
        fd_ = -1;
        fail(regular ? std::strerror(error) : "It is not a regular file");
    }
    device_ = st.st_dev;
    inode_ = st.st_ino;
}

TFileSource::~TFileSource() {
    if (fd_ >= 0) ::close(fd_);
}

size_t TFileSource::Read(uint64_t offset, void* out, size_t size) const {
    size_t done = 0;
    while (done < size) {
        const ssize_t got = ::pread(fd_, static_cast<char*>(out) + done, size - done,
                                    static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        done += static_cast<size_t>(got);
    }
    return done;
}

uint64_t TFileSource::CurrentSize() const {
    struct stat st {};
    return ::fstat(fd_, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

size_t TMemorySource::Read(uint64_t offset, void* out, size_t size) const {
    if (offset >= bytes_.size()) return 0;
    const size_t n = std::min<uint64_t>(size, bytes_.size() - offset);
    std::memcpy(out, bytes_.data() + offset, n);
    return n;
}
