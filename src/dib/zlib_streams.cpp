#include "dib/zlib_streams.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <limits>

namespace qil {

namespace {
constexpr size_t kBufferSize = 64 * 1024;

// zlib counts in unsigned int; larger requests are served in slices.
constexpr int64_t kMaxSlice = std::numeric_limits<uInt>::max() / 2;

std::string ZMessage(const char* what, int code, const z_stream& z) {
    return Format("%s (zlib error %d%s%s)", what, code, z.msg ? ": " : "", z.msg ? z.msg : "");
}
}  // namespace

// ---- TZCompressionStream ----

struct TZCompressionStream::State {
    z_stream z{};
    std::vector<uint8_t> out = std::vector<uint8_t>(kBufferSize);
};

TZCompressionStream::TZCompressionStream(TStream& dest, int level) : state_(std::make_unique<State>()), dest_(dest) {
    int rc = deflateInit(&state_->z, level);
    if (rc != Z_OK) throw EZCompressionError(ZMessage("Cannot start compression", rc, state_->z));
}

TZCompressionStream::~TZCompressionStream() {
    try {
        Finish();
    } catch (...) {
    }
    deflateEnd(&state_->z);
}

int64_t TZCompressionStream::Read(void*, int64_t) { throw EZCompressionError("Invalid stream operation"); }

int64_t TZCompressionStream::Write(const void* buffer, int64_t count) {
    if (finished_) throw EZCompressionError("Invalid stream operation");
    if (count <= 0) return 0;
    z_stream& z = state_->z;
    const auto* p = static_cast<const uint8_t*>(buffer);
    int64_t left = count;
    while (left > 0) {
        int64_t slice = std::min(left, kMaxSlice);
        z.next_in = const_cast<Bytef*>(p);
        z.avail_in = static_cast<uInt>(slice);
        while (z.avail_in > 0) {
            z.next_out = state_->out.data();
            z.avail_out = static_cast<uInt>(state_->out.size());
            int rc = deflate(&z, Z_NO_FLUSH);
            if (rc != Z_OK && rc != Z_BUF_ERROR) throw EZCompressionError(ZMessage("Compression failed", rc, z));
            dest_.WriteBuffer(state_->out.data(), static_cast<int64_t>(state_->out.size() - z.avail_out));
        }
        p += slice;
        left -= slice;
    }
    totalIn_ += count;
    return count;
}

void TZCompressionStream::Finish() {
    if (finished_) return;
    finished_ = true;
    z_stream& z = state_->z;
    z.next_in = nullptr;
    z.avail_in = 0;
    for (;;) {
        z.next_out = state_->out.data();
        z.avail_out = static_cast<uInt>(state_->out.size());
        int rc = deflate(&z, Z_FINISH);
        if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR)
            throw EZCompressionError(ZMessage("Compression failed", rc, z));
        dest_.WriteBuffer(state_->out.data(), static_cast<int64_t>(state_->out.size() - z.avail_out));
        if (rc == Z_STREAM_END) break;
    }
}

int64_t TZCompressionStream::Seek(int64_t offset, TSeekOrigin origin) {
    if (offset == 0 && origin == TSeekOrigin::soCurrent) return totalIn_;
    return -1;
}

void TZCompressionStream::SetSize(int64_t) { throw EZCompressionError("Invalid stream operation"); }

// ---- TZDecompressionStream ----

struct TZDecompressionStream::State {
    z_stream z{};
    std::vector<uint8_t> in = std::vector<uint8_t>(kBufferSize);
    bool sourceEnded = false;
};

TZDecompressionStream::TZDecompressionStream(TStream& source) : state_(std::make_unique<State>()), source_(source) {
    int rc = inflateInit(&state_->z);
    if (rc != Z_OK) throw EZDecompressionError(ZMessage("Cannot start decompression", rc, state_->z));
}

TZDecompressionStream::~TZDecompressionStream() { inflateEnd(&state_->z); }

int64_t TZDecompressionStream::Read(void* buffer, int64_t count) {
    if (count <= 0 || ended_) return 0;
    z_stream& z = state_->z;
    auto* p = static_cast<uint8_t*>(buffer);
    int64_t done = 0;
    while (done < count && !ended_) {
        if (z.avail_in == 0 && !state_->sourceEnded) {
            int64_t n = source_.Read(state_->in.data(), static_cast<int64_t>(state_->in.size()));
            if (n <= 0) state_->sourceEnded = true;
            z.next_in = state_->in.data();
            z.avail_in = static_cast<uInt>(std::max<int64_t>(n, 0));
        }
        int64_t slice = std::min(count - done, kMaxSlice);
        z.next_out = p + done;
        z.avail_out = static_cast<uInt>(slice);
        int rc = inflate(&z, Z_NO_FLUSH);
        done += slice - static_cast<int64_t>(z.avail_out);
        if (rc == Z_STREAM_END) {
            ended_ = true;
        } else if (rc == Z_BUF_ERROR) {
            // No progress possible: either the output slice is full (loop again) or the
            // input has run out before the end of the compressed data.
            if (z.avail_out != 0 && z.avail_in == 0 && state_->sourceEnded)
                throw EZDecompressionError("Decompression failed: the compressed data ends early");
        } else if (rc != Z_OK) {
            throw EZDecompressionError(ZMessage("Decompression failed", rc, z));
        }
    }
    totalOut_ += done;
    return done;
}

int64_t TZDecompressionStream::Write(const void*, int64_t) { throw EZDecompressionError("Invalid stream operation"); }

int64_t TZDecompressionStream::Seek(int64_t offset, TSeekOrigin origin) {
    if (offset == 0 && origin == TSeekOrigin::soCurrent) return totalOut_;
    return -1;
}

void TZDecompressionStream::SetSize(int64_t) { throw EZDecompressionError("Invalid stream operation"); }

}  // namespace qil
