#pragma once
// The bytes of a text: an open regular file read in blocks at any offset, or bytes in memory.
#include <cstddef>
#include <cstdint>
#include <string>

// Where the bytes come from: an open regular file read with pread, or bytes held in memory.
class TTextSource {
  public:
    virtual ~TTextSource() = default;
    // Copies up to `size` bytes at `offset` (fewer at the end); thread-safe.
    virtual size_t Read(uint64_t offset, void* out, size_t size) const = 0;
    // The current size (a file may grow or shrink while shown).
    virtual uint64_t CurrentSize() const = 0;
};

class TFileSource : public TTextSource {
  public:
    // Opens a regular file without waiting on it. Throws std::runtime_error with "Cannot open
    // file \"shown\". reason" (a pipe, device or socket: "It is not a regular file").
    TFileSource(const std::string& nativeName, const std::string& shownName);
    ~TFileSource() override;
    size_t Read(uint64_t offset, void* out, size_t size) const override;
    uint64_t CurrentSize() const override;
    // Device and inode of the open file, to tell a replaced file from a grown one.
    uint64_t Device() const { return device_; }
    uint64_t Inode() const { return inode_; }

  private:
    int fd_ = -1;
    uint64_t device_ = 0, inode_ = 0;
};

class TMemorySource : public TTextSource {
  public:
    explicit TMemorySource(std::string bytes) : bytes_(std::move(bytes)) {}
    size_t Read(uint64_t offset, void* out, size_t size) const override;
    uint64_t CurrentSize() const override { return bytes_.size(); }

  private:
    std::string bytes_;
};
