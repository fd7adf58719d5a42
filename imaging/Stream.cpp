#include "imaging/Stream.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>

#include "imaging/Exceptions.h"
#include "imaging/ImagingRoutines.h"

int64_t TStream::Remaining() {
    const int64_t pos = Position();
    const int64_t size = Size();
    return pos < size ? size - pos : 0;
}

void TStream::ReadBuffer(void* buffer, int64_t count) {
    if (count < 0 || (count > 0 && Read(buffer, count) != count)) throw EReadError();
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
    if (count < 0 || (count > 0 && Write(buffer, count) != count))
        throw EReadError("Stream write error");
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
    if (count == 0) count = source.Remaining();
    std::vector<uint8_t> buffer(static_cast<size_t>(std::min<int64_t>(count, 1 << 16)));
    int64_t done = 0;
    while (done < count) {
        const int64_t n = std::min<int64_t>(count - done, static_cast<int64_t>(buffer.size()));
        source.ReadBuffer(buffer.data(), n);
        WriteBuffer(buffer.data(), n);
        done += n;
    }
    return done;
}

std::vector<uint8_t> TStream::ReadBytes(int64_t count) {
    if (count < 0 || count > Remaining()) throw EReadError();
    std::vector<uint8_t> bytes(static_cast<size_t>(count));
    ReadBuffer(bytes.data(), count);
    return bytes;
}

std::vector<uint8_t> TStream::ReadAvailable(int64_t count) {
    std::vector<uint8_t> bytes(static_cast<size_t>(std::clamp<int64_t>(count, 0, Remaining())));
    const int64_t got = bytes.empty() ? 0 : Read(bytes.data(), int64_t(bytes.size()));
    bytes.resize(static_cast<size_t>(std::max<int64_t>(got, 0)));
    return bytes;
}

std::vector<uint8_t> TStream::PeekBytes(int64_t count, int64_t minRemaining) {
    if (count <= 0 || Remaining() < std::max(count, minRemaining)) return {};
    const int64_t position = Position();
    std::vector<uint8_t> head = ReadAvailable(count);
    SetPosition(position);
    if (int64_t(head.size()) != count) head.clear();
    return head;
}

namespace {

// count values of sizeof(T) bytes each, read by get from the stream's next bytes; fails like
// ReadBytes before allocating when the stream cannot hold them.
template <typename T, typename Get>
std::vector<T> ReadTable(TStream& stream, int64_t count, Get get) {
    if (count < 0 || count > stream.Remaining() / int64_t(sizeof(T))) throw EReadError();
    const std::vector<uint8_t> bytes = stream.ReadBytes(count * int64_t(sizeof(T)));
    std::vector<T> values(static_cast<size_t>(count));
    for (size_t i = 0; i < values.size(); ++i)
        values[i] = get(bytes.data() + sizeof(T) * i);
    return values;
}

}  // namespace

std::vector<uint16_t> TStream::ReadU16Table(int64_t count, bool bigEndian) {
    return ReadTable<uint16_t>(*this, count,
                               [bigEndian](const uint8_t* p) { return GetU16(p, bigEndian); });
}

std::vector<uint32_t> TStream::ReadU32Table(int64_t count, bool bigEndian) {
    return ReadTable<uint32_t>(*this, count,
                               [bigEndian](const uint8_t* p) { return GetU32(p, bigEndian); });
}

namespace {

// Reads the Size bytes of a number and decodes them with get (the byte order of the caller).
template <size_t Size, class TValue>
TValue ReadWord(TStream& stream, TValue (*get)(const uint8_t*)) {
    uint8_t bytes[Size];
    stream.ReadBuffer(bytes, Size);
    return get(bytes);
}

}  // namespace

uint8_t TStream::ReadU8() {
    uint8_t v;
    ReadBuffer(&v, 1);
    return v;
}

uint16_t TStream::ReadU16LE() {
    return ReadWord<2>(*this, GetU16LE);
}

uint16_t TStream::ReadU16BE() {
    return ReadWord<2>(*this, GetU16BE);
}

uint32_t TStream::ReadU32LE() {
    return ReadWord<4>(*this, GetU32LE);
}

uint32_t TStream::ReadU32BE() {
    return ReadWord<4>(*this, GetU32BE);
}

// ---------------------------------------------------------------------------------------------

TFileStream::TFileStream(const std::string& fileName, Mode mode) {
    file_ = std::fopen(fileName.c_str(), mode == fmCreate ? "w+b" : "rb");
    if (file_ == nullptr) {
        const char* what = mode == fmCreate ? "Cannot create file" : "Cannot open file";
        throw EFOpenError(std::string(what) + " \"" + fileName + "\". " + std::strerror(errno));
    }
}

TFileStream::~TFileStream() {
    if (file_ != nullptr) std::fclose(file_);
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
    if (count <= 0) return 0;
    return static_cast<int64_t>(std::fread(buffer, 1, static_cast<size_t>(count), file_));
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
    if (count <= 0) return 0;
    size_ = -1;
    return static_cast<int64_t>(std::fwrite(buffer, 1, static_cast<size_t>(count), file_));
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
    const int whence = origin == TSeekOrigin::soBeginning ? SEEK_SET
                       : origin == TSeekOrigin::soCurrent ? SEEK_CUR
                                                          : SEEK_END;
    if (!(origin == TSeekOrigin::soCurrent && offset == 0)) {
        if (fseeko(file_, static_cast<off_t>(offset), whence) != 0) throw EReadError();
    }
    return static_cast<int64_t>(ftello(file_));
}

int64_t TFileStream::Size() {
    if (size_ < 0) {
        const off_t here = ftello(file_);
        fseeko(file_, 0, SEEK_END);
        size_ = static_cast<int64_t>(ftello(file_));
        fseeko(file_, here, SEEK_SET);
    }
    return size_;
}

// ---------------------------------------------------------------------------------------------

TMemoryStream::TMemoryStream(const void* data, int64_t size)
    : data_(static_cast<const uint8_t*>(data)), size_(size < 0 ? 0 : size), borrowed_(true) {}

TMemoryStream::TMemoryStream(std::vector<uint8_t> data) : own_(std::move(data)) {
    data_ = own_.data();
    size_ = static_cast<int64_t>(own_.size());
}

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
    if (count <= 0 || pos_ >= size_) return 0;
    const int64_t n = std::min(count, size_ - pos_);
    std::memcpy(buffer, data_ + pos_, static_cast<size_t>(n));
    pos_ += n;
    return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
    if (borrowed_) throw EReadError("Stream write error");
    if (count <= 0) return 0;
    const int64_t end = pos_ + count;
    if (end > static_cast<int64_t>(own_.size())) own_.resize(static_cast<size_t>(end));
    std::memcpy(own_.data() + pos_, buffer, static_cast<size_t>(count));
    pos_ = end;
    data_ = own_.data();
    size_ = std::max(size_, end);
    return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
    int64_t base = origin == TSeekOrigin::soBeginning ? 0
                   : origin == TSeekOrigin::soCurrent ? pos_
                                                      : size_;
    if (offset > 0 && base > INT64_MAX - offset) throw EReadError();
    const int64_t target = base + offset;
    if (target < 0) throw EReadError();
    pos_ = target;
    return pos_;
}

void TMemoryStream::LoadFromFile(const std::string& fileName) {
    TFileStream file(fileName);
    std::vector<uint8_t> bytes(static_cast<size_t>(file.Size()));
    file.ReadBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    *this = TMemoryStream(std::move(bytes));
}

void TMemoryStream::Clear() {
    *this = TMemoryStream();
}
