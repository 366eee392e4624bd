#include "annotations/tiff_decoder.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <vector>

#include "platform/exceptions.h"
#include "platform/streams.h"

namespace qil {

namespace {

uint16_t get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t get32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

TTiffDecoder::TTiffDecoder(TStream& stream) : Stream(&stream) {
    BasePosition = stream.Position();
    uint8_t header[8] = {};
    stream.Read(header, sizeof header);
    // The words are taken as stored (little-endian host order), then swapped when "MM".
    ByteOrder = get16(header);
    Version = get16(header + 2);
    FirstIFDOffset = get32(header + 4);
    BigEndian = ByteOrder == 0x4D4D;
    FirstIFDOffset = Swap32(FirstIFDOffset);
}

bool TTiffDecoder::IsValid() const { return ByteOrder == 0x4949 || ByteOrder == 0x4D4D; }

uint16_t TTiffDecoder::Swap16(uint16_t value) const {
    return BigEndian ? static_cast<uint16_t>((value >> 8) | (value << 8)) : value;
}

uint32_t TTiffDecoder::Swap32(uint32_t value) const {
    if (!BigEndian) return value;
    return (value >> 24) | ((value >> 8) & 0xFF00u) | ((value << 8) & 0xFF0000u) | (value << 24);
}

bool TTiffDecoder::readAt(int64_t offset, void* buffer, int64_t count) {
    if (offset < 0 || count < 0) return false;
    int64_t size = Stream->Size();
    int64_t pos = BasePosition + offset;
    if (pos > size || count > size - pos) return false;
    if (Stream->Seek(pos, TSeekOrigin::soBeginning) != pos) return false;
    return count == 0 || Stream->Read(buffer, count) == count;
}

void TTiffDecoder::SelectPage(int32_t page) {
    Entries.reset();
    EntryCount = 0;
    int64_t offset = static_cast<int32_t>(FirstIFDOffset);
    std::set<int64_t> visited;
    int32_t i = 0;
    while (offset > 0) {
        visited.insert(offset);
        uint8_t word[4];
        if (!readAt(offset, word, 2)) break;  // a directory outside the stream ends the chain
        uint32_t n = Swap16(get16(word));
        int64_t entriesAt = offset + 2;
        if (i == page) {
            // Keep only the entries that lie wholly inside the stream.
            int64_t room = Stream->Size() - (BasePosition + entriesAt);
            uint32_t fit = static_cast<uint32_t>(std::clamp<int64_t>(room / 12, 0, n));
            std::vector<uint8_t> raw(static_cast<size_t>(fit) * 12);
            if (!readAt(entriesAt, raw.data(), static_cast<int64_t>(raw.size()))) break;
            Entries = std::make_unique<TTiffDirEntry[]>(fit);
            for (uint32_t e = 0; e < fit; ++e) {
                const uint8_t* p = raw.data() + 12 * e;
                Entries[e].Tag = Swap16(get16(p));
                Entries[e].FieldType = Swap16(get16(p + 2));
                Entries[e].Count = Swap32(get32(p + 4));
                Entries[e].Value = Swap32(get32(p + 8));
            }
            EntryCount = static_cast<int32_t>(fit);
            break;
        }
        if (!readAt(entriesAt + 12 * static_cast<int64_t>(n), word, 4)) break;
        int64_t next = static_cast<int32_t>(Swap32(get32(word)));
        // A directory pointing back into the chain (to itself or to any earlier one) ends it.
        offset = visited.count(next) ? 0 : next;
        ++i;
    }
    if (!Entries) throw Exception("Invalid TIFF Page Number");
}

int32_t TTiffDecoder::IndexOfTag(uint16_t tag) const {
    if (!Entries) return -1;
    for (int32_t e = 0; e < EntryCount; ++e)
        if (Entries[e].Tag == tag) return e;
    return -1;
}

const TTiffDirEntry& TTiffDecoder::entryOf(uint16_t tag) const {
    int32_t e = IndexOfTag(tag);
    if (e < 0) throw Exception(Format("TIFF Tag Not Found: %u", static_cast<unsigned>(tag)));
    return Entries[e];
}

uint32_t TTiffDecoder::GetTagLength(uint16_t tag) const { return entryOf(tag).Count; }

uint32_t TTiffDecoder::ReadTag(uint16_t tag, void* buffer) {
    uint32_t count = entryOf(tag).Count;
    return ReadTag(tag, buffer, buffer ? count : 0);
}

uint32_t TTiffDecoder::ReadTag(uint16_t tag, void* buffer, uint32_t bufferSize) {
    const TTiffDirEntry& entry = entryOf(tag);
    Stream->SetPosition(BasePosition + entry.Value);
    if (buffer) Stream->ReadBuffer(buffer, std::min(entry.Count, bufferSize));
    return entry.Count;
}

}  // namespace qil
