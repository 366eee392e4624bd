// Deflate and inflate as streams over other streams (zlib, zlib format with header and
// Adler-32 trailer).
//
// TZCompressionStream compresses everything written to it into its destination; Finish (or
// the destructor, which swallows errors) flushes the last block. TZDecompressionStream
// inflates its source on demand: Read returns fewer bytes than asked only at the end of the
// compressed data, and corrupt data raises EZDecompressionError. Neither stream seeks.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/exceptions.h"
#include "platform/streams.h"

namespace qil {

class EZCompressionError : public Exception {
public:
    using Exception::Exception;
};
class EZDecompressionError : public Exception {
public:
    using Exception::Exception;
};

class TZCompressionStream : public TStream {
public:
    // Level: 0..9, or -1 for zlib's default level.
    explicit TZCompressionStream(TStream& dest, int level = -1);
    ~TZCompressionStream() override;
    TZCompressionStream(const TZCompressionStream&) = delete;
    TZCompressionStream& operator=(const TZCompressionStream&) = delete;

    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    // Answers the uncompressed position for (0, soCurrent); refuses every other move.
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() override { return totalIn_; }
    void SetSize(int64_t newSize) override;
    // Writes the end of the compressed data; further writes are refused.
    void Finish();

private:
    struct State;
    std::unique_ptr<State> state_;
    TStream& dest_;
    int64_t totalIn_ = 0;
    bool finished_ = false;
};

class TZDecompressionStream : public TStream {
public:
    explicit TZDecompressionStream(TStream& source);
    ~TZDecompressionStream() override;
    TZDecompressionStream(const TZDecompressionStream&) = delete;
    TZDecompressionStream& operator=(const TZDecompressionStream&) = delete;

    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    // Answers the uncompressed position for (0, soCurrent); refuses every other move.
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    // The size is not known in advance; answers the bytes produced so far.
    int64_t Size() override { return totalOut_; }
    void SetSize(int64_t newSize) override;
    // True once the end of the compressed data has been reached.
    bool AtEnd() const { return ended_; }

private:
    struct State;
    std::unique_ptr<State> state_;
    TStream& source_;
    int64_t totalOut_ = 0;
    bool ended_ = false;
};

}  // namespace qil
