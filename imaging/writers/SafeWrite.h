#pragma once
// One way for every writer to put a file on disk without risking the one it replaces: the bytes
// go to a temporary file in the target's folder, are flushed to the disk and read back (the
// caller decodes the temporary file once), and only then is it renamed over the target. The
// original keeps its permissions (and, when asked, its modification time); a target that another
// program changed since it was shown is refused. On any failure the temporary file is removed,
// the original is left as it was and ESafeWrite says what happened.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "imaging/Exceptions.h"

class ESafeWrite : public EImagingError {
  public:
    using EImagingError::EImagingError;
};

// What identifies a file's version: size, modification time and inode (exists false when there
// is no file at the path).
struct TFileStamp {
    bool exists = false;
    uint64_t size = 0;
    int64_t mtimeNs = 0;
    uint64_t inode = 0;
    bool operator==(const TFileStamp&) const = default;
};

// The stamp of the file at path now (exists false when it cannot be found).
TFileStamp FileStamp(const std::string& path);

struct TSafeWriteOptions {
    // The target as it was when shown; a different file there now refuses the write. Empty
    // (exists false and size 0): any file there is replaced.
    const TFileStamp* expected = nullptr;
    // Keeps the replaced file's modification time, or gives the written file timeFrom's.
    bool keepTime = false;
    std::string timeFrom;
    // Reads the written temporary file back (its name ends in the target's extension); throws
    // when it is not what was meant to be written.
    std::function<void(const std::string& tempPath)> check;
};

// Writes data over target as described above. Throws ESafeWrite.
void SafeWriteFile(const std::string& target, const std::vector<uint8_t>& data,
                   const TSafeWriteOptions& options = {});
