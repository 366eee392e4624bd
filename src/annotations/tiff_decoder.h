// TTiffDecoder: a small reader of the TIFF directory chain, just enough to find one tag of one
// page and read its bytes. It does not decode images (the image files go through libtiff).
//
// Offsets in the file are relative to the stream position at which the decoder was created
// (BasePosition). 16- and 32-bit values of the header and of the directories are swapped when
// the header says big-endian ("MM").
//
// The chain comes from the file and is not trusted:
//  - a directory offset that is not positive, that lies outside the stream, or that was already
//    visited (a directory pointing to itself or to any earlier one) ends the chain;
//  - a directory whose entries run past the end of the stream keeps only the entries that are
//    wholly inside it;
//  - ReadTag with a buffer reads only what the buffer can take and raises EReadError when the
//    stream ends before that.
#pragma once

#include <cstdint>
#include <memory>

namespace qil {

class TStream;

// The tag holding annotation records.
constexpr uint16_t TIFFTAG_ANNOTATION = 32932;

// One directory entry, already in host byte order. Count is taken as the data length in
// bytes and Value as the offset of the data, whatever the field type.
struct TTiffDirEntry {
    uint16_t Tag = 0;
    uint16_t FieldType = 0;
    uint32_t Count = 0;
    uint32_t Value = 0;
};

class TTiffDecoder {
public:
    // Remembers the stream (not owned) and its current position, and reads the 8 header bytes.
    // A stream shorter than the header reads as zero bytes past its end (so IsValid is false).
    explicit TTiffDecoder(TStream& stream);
    TTiffDecoder(const TTiffDecoder&) = delete;
    TTiffDecoder& operator=(const TTiffDecoder&) = delete;

    // The header byte order is "II" (0x4949) or "MM" (0x4D4D).
    bool IsValid() const;
    // Loads the directory of the 0-based page into Entries; raises Exception "Invalid TIFF Page
    // Number" when the chain has fewer than Page + 1 directories.
    void SelectPage(int32_t page);
    // Position in Entries of the first entry with the tag, or -1.
    int32_t IndexOfTag(uint16_t tag) const;
    // Count of the tag's entry; raises Exception "TIFF Tag Not Found: %d" when absent.
    uint32_t GetTagLength(uint16_t tag) const;
    // Positions the stream at the tag's data and answers its Count (raising like GetTagLength).
    // With a buffer, reads Count bytes into it: the buffer must hold Count bytes.
    uint32_t ReadTag(uint16_t tag, void* buffer = nullptr);
    // The same, reading at most BufferSize bytes of the data into Buffer.
    uint32_t ReadTag(uint16_t tag, void* buffer, uint32_t bufferSize);

    uint16_t Swap16(uint16_t value) const;
    uint32_t Swap32(uint32_t value) const;

    // ---- Fields ----
    uint16_t ByteOrder = 0;
    uint16_t Version = 0;
    uint32_t FirstIFDOffset = 0;
    TStream* Stream;
    int64_t BasePosition = 0;
    bool BigEndian = false;
    std::unique_ptr<TTiffDirEntry[]> Entries;  // nullptr until SelectPage succeeds
    int32_t EntryCount = 0;

private:
    const TTiffDirEntry& entryOf(uint16_t tag) const;
    // Reads exactly Count bytes at BasePosition + Offset; false when the stream does not hold them.
    bool readAt(int64_t offset, void* buffer, int64_t count);
};

}  // namespace qil
