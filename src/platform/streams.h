// Byte streams: the one I/O abstraction of the library. The image codecs (libtiff, libjpeg,
// the PNG codec) and the annotation reader work over these.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qil {

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream {
public:
    virtual ~TStream() = default;
    // Reads up to Count bytes; answers the number read (0 at the end).
    virtual int64_t Read(void* buffer, int64_t count) = 0;
    // Writes up to Count bytes; answers the number written.
    virtual int64_t Write(const void* buffer, int64_t count) = 0;
    // Moves the position; answers the new position, or -1 when the move is refused.
    virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
    virtual int64_t Size();
    // Truncates or extends the stream.
    virtual void SetSize(int64_t newSize) = 0;

    int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
    void SetPosition(int64_t pos) { Seek(pos, TSeekOrigin::soBeginning); }
    // Read or write exactly Count bytes, raising EReadError "Stream read error" or
    // EWriteError "Stream write error" otherwise.
    void ReadBuffer(void* buffer, int64_t count);
    void WriteBuffer(const void* buffer, int64_t count);
    // Copies Count bytes from Source (all of it from position 0 when Count is 0).
    int64_t CopyFrom(TStream& source, int64_t count);
};

// File open modes.
constexpr uint32_t fmOpenRead = 0x0000;
constexpr uint32_t fmOpenWrite = 0x0001;
constexpr uint32_t fmOpenReadWrite = 0x0002;
constexpr uint32_t fmShareDenyWrite = 0x0020;
constexpr uint32_t fmShareDenyNone = 0x0040;
constexpr uint32_t fmCreate = 0xFF00;

// A file on disk. Opening failures raise EFOpenError ("Cannot open file "<name>". <reason>");
// creation failures raise EFCreateError ("Cannot create file "<name>". <reason>").
class TFileStream : public TStream {
public:
    TFileStream(const std::string& fileName, uint32_t mode);
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() override;
    void SetSize(int64_t newSize) override;
    // Flushes the file to the disk (fsync); raises EWriteError on failure.
    void Flush();

    const std::string FileName;

private:
    int fd_ = -1;
};

// A growable block of memory.
class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() override { return static_cast<int64_t>(data_.size()); }
    void SetSize(int64_t newSize) override;

    void Clear();
    uint8_t* Memory() { return data_.data(); }
    const std::vector<uint8_t>& Data() const { return data_; }
    void LoadFromFile(const std::string& fileName);
    void LoadFromStream(TStream& source);
    void SaveToFile(const std::string& fileName);
    void SaveToStream(TStream& dest);

private:
    std::vector<uint8_t> data_;
    int64_t pos_ = 0;
};

// A read-only view of bytes owned elsewhere.
class TBufferStream : public TStream {
public:
    TBufferStream(const void* data, int64_t size) : data_(static_cast<const uint8_t*>(data)), size_(size) {}
    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() override { return size_; }
    void SetSize(int64_t newSize) override;

private:
    const uint8_t* data_;
    int64_t size_;
    int64_t pos_ = 0;
};

}  // namespace qil
