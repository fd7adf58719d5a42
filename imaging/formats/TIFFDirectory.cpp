// Reading a TIFF directory: its entries, sorted by tag, and the values of an entry, wherever
// the file keeps them. Every offset and count is checked against the file before it is read.
#include <algorithm>
#include <type_traits>

#include "imaging/Stream.h"
#include "imaging/formats/TIFFDirectory.h"

namespace {

// A directory holds at most this many entries and a list at most this many values; more is
// not a sensible file (a strip per row of the largest bitmap stays far below).
constexpr uint32_t kMaxListValues = 1u << 26;

}  // namespace

bool TTIFFGraphic::ReadDirectory(TStream& stream, int64_t offset) {
    directory_.clear();
    if (offset < 8 || offset + 2 > fileSize_) return false;
    stream.SetPosition(base_ + offset);
    uint8_t countBytes[2];
    stream.ReadBuffer(countBytes, 2);
    const uint32_t count = GetU16(countBytes, bigEndian_);
    if (offset + 2 + int64_t(count) * 12 > fileSize_) return false;
    const std::vector<uint8_t> raw = stream.ReadBytes(int64_t(count) * 12);
    directory_.resize(count);
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* e = raw.data() + 12 * size_t(i);
        TIFDEntry& entry = directory_[i];
        entry.Tag = GetU16(e, bigEndian_);
        entry.Type = GetU16(e + 2, bigEndian_);
        entry.Count = GetU32(e + 4, bigEndian_);
        const unsigned size = TIFFTypeSize(entry.Type);
        const uint64_t total = uint64_t(size) * entry.Count;
        if (!bigEndian_ || size == 0) {
            std::memcpy(entry.Value, e + 8, 4);
        } else if (total > 4 || size >= 4) {
            // An offset, or one 32-bit value.
            const uint32_t v = GetU32BE(e + 8);
            for (int k = 0; k < 4; ++k)
                entry.Value[k] = uint8_t(v >> (8 * k));
        } else if (size == 2) {
            for (uint32_t k = 0; k < entry.Count; ++k) {
                const uint16_t v = GetU16BE(e + 8 + 2 * k);
                entry.Value[2 * k] = uint8_t(v);
                entry.Value[2 * k + 1] = uint8_t(v >> 8);
            }
        } else {
            std::memcpy(entry.Value, e + 8, 4);
        }
    }
    std::stable_sort(directory_.begin(), directory_.end(),
                     [](const TIFDEntry& a, const TIFDEntry& b) { return a.Tag < b.Tag; });
    return true;
}

const TTIFFGraphic::TIFDEntry* TTIFFGraphic::FindTag(uint16_t tag) const {
    const auto it = std::lower_bound(directory_.begin(), directory_.end(), tag,
                                     [](const TIFDEntry& e, uint16_t t) { return e.Tag < t; });
    return it != directory_.end() && it->Tag == tag ? &*it : nullptr;
}

bool TTIFFGraphic::ReadValues(const TIFDEntry& entry, TValues& values) const {
    const unsigned size = TIFFTypeSize(entry.Type);
    if (size == 0 || entry.Count == 0 || entry.Count > kMaxListValues) return false;
    const uint64_t total = uint64_t(size) * entry.Count;
    values.Type = entry.Type;
    values.Count = entry.Count;
    if (total <= 4) {
        values.Bytes.assign(entry.Value, entry.Value + 4);
        values.BigEndian = false;
        return true;
    }
    const uint32_t offset = GetU32LE(entry.Value);
    if (tagStream_ == nullptr || int64_t(offset) + int64_t(total) > fileSize_) return false;
    tagStream_->SetPosition(base_ + offset);
    values.Bytes = tagStream_->ReadBytes(int64_t(total));
    values.BigEndian = bigEndian_;
    return true;
}

bool TTIFFGraphic::ReadDirectoryAt(int64_t offset) {
    return tagStream_ != nullptr && ReadDirectory(*tagStream_, offset);
}

bool TTIFFGraphic::EntryBytes(const TIFDEntry& entry, uint64_t maxBytes,
                              std::vector<uint8_t>& bytes, bool& bigEndian) const {
    TValues values;
    if (uint64_t(TIFFTypeSize(entry.Type)) * entry.Count > maxBytes || !ReadValues(entry, values))
        return false;
    bytes = std::move(values.Bytes);
    bytes.resize(
        std::min<uint64_t>(bytes.size(), uint64_t(TIFFTypeSize(entry.Type)) * entry.Count));
    bigEndian = values.BigEndian;
    return true;
}

uint32_t TTIFFGraphic::ReadInteger(uint16_t tag, uint32_t fallback) const {
    // The first value when there are several (an offset is never taken for a value).
    const TIFDEntry* entry = FindTag(tag);
    TValues values;
    if (entry == nullptr || !ReadValues(*entry, values)) return fallback;
    return values.Integer(0);
}

float TTIFFGraphic::ReadFloat(uint16_t tag, float fallback) const {
    const TIFDEntry* entry = FindTag(tag);
    TValues values;
    if (entry == nullptr || entry->Count != 1 || !ReadValues(*entry, values)) return fallback;
    return float(values.Float(0));
}

template <class T>
std::vector<T> TTIFFGraphic::ReadList(uint16_t tag) const {
    const TIFDEntry* entry = FindTag(tag);
    TValues values;
    std::vector<T> list;
    if (entry == nullptr || !ReadValues(*entry, values)) return list;
    list.resize(values.Count);
    for (uint32_t i = 0; i < values.Count; ++i) {
        if constexpr (std::is_floating_point_v<T>)
            list[i] = T(values.Float(i));
        else
            list[i] = T(values.Integer(i));
    }
    return list;
}

// The lists TIFFGraphic.cpp reads.
template std::vector<uint32_t> TTIFFGraphic::ReadList<uint32_t>(uint16_t tag) const;
template std::vector<float> TTIFFGraphic::ReadList<float>(uint16_t tag) const;
template std::vector<uint8_t> TTIFFGraphic::ReadList<uint8_t>(uint16_t tag) const;
