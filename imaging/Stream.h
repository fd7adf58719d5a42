#pragma once
// Byte streams: one small interface with file and memory implementations.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream {
  public:
    virtual ~TStream() = default;

    // Reads up to count bytes; returns how many were read (fewer only at the end).
    virtual int64_t Read(void* buffer, int64_t count) = 0;
    // Writes count bytes; returns how many were written.
    virtual int64_t Write(const void* buffer, int64_t count) = 0;
    // Moves the position; returns the new position. Positions beyond the end are allowed
    // (reads there return 0 bytes); negative positions throw EReadError.
    virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
    virtual int64_t Size() = 0;

    int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
    void SetPosition(int64_t pos) { Seek(pos, TSeekOrigin::soBeginning); }
    // Bytes left between the position and the end (0 when the position is past the end).
    int64_t Remaining();

    // Reads exactly count bytes or throws EReadError ("Stream read error").
    void ReadBuffer(void* buffer, int64_t count);
    // Writes exactly count bytes or throws EReadError.
    void WriteBuffer(const void* buffer, int64_t count);
    // Copies count bytes (all remaining when count is 0) from source; returns bytes copied.
    int64_t CopyFrom(TStream& source, int64_t count);

    // Reads exactly count bytes into a new vector. Throws EReadError before allocating anything
    // when count is negative or more than Remaining(), so a length taken from a file can never
    // make a large allocation that the file cannot fill.
    std::vector<uint8_t> ReadBytes(int64_t count);
    // Reads up to count bytes and returns what arrived: the vector is sized to what the stream
    // still holds (at most Remaining() bytes are allocated), never padded with stale bytes.
    std::vector<uint8_t> ReadAvailable(int64_t count);
    // For signature probes: the count bytes at the position, with the position restored; empty
    // when fewer than count (or than minRemaining, when larger) bytes remain or arrive.
    std::vector<uint8_t> PeekBytes(int64_t count, int64_t minRemaining = 0);
    // Reads count 16-bit (32-bit) values in the byte order given by bigEndian; fails like
    // ReadBytes before allocating when the stream cannot hold them.
    std::vector<uint16_t> ReadU16Table(int64_t count, bool bigEndian);
    std::vector<uint32_t> ReadU32Table(int64_t count, bool bigEndian);

    uint8_t ReadU8();
    uint16_t ReadU16LE();
    uint16_t ReadU16BE();
    uint32_t ReadU32LE();
    uint32_t ReadU32BE();
};

// A file opened for reading (and, with fmCreate, for writing a new file).
class TFileStream : public TStream {
  public:
    enum Mode { fmOpenRead, fmCreate };
    // Throws EFOpenError with a message naming the file when it cannot be opened.
    TFileStream(const std::string& fileName, Mode mode = fmOpenRead);
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() override;

  private:
    std::FILE* file_ = nullptr;
    int64_t size_ = -1;
};

// A growable buffer in memory; can also wrap borrowed read-only bytes without copying.
class TMemoryStream : public TStream {
  public:
    TMemoryStream() = default;
    // Wraps data that must outlive the stream; writing to such a stream throws.
    TMemoryStream(const void* data, int64_t size);
    explicit TMemoryStream(std::vector<uint8_t> data);
    TMemoryStream(const TMemoryStream&) = delete;
    TMemoryStream& operator=(const TMemoryStream&) = delete;
    TMemoryStream(TMemoryStream&&) = default;
    TMemoryStream& operator=(TMemoryStream&&) = default;

    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() override { return size_; }

    const uint8_t* Memory() const { return data_; }
    void LoadFromFile(const std::string& fileName);
    void Clear();

  private:
    std::vector<uint8_t> own_;
    const uint8_t* data_ = nullptr;
    int64_t size_ = 0;
    int64_t pos_ = 0;
    bool borrowed_ = false;
};
