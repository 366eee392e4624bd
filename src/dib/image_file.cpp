// Image files: recognising the format of a file by its first bytes, and the file-level
// plumbing shared by the bitmap, TIFF and JPEG code (atomic replacement of saved files).
#include "dib/image_file.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "dib/dib.h"
#include "platform/exceptions.h"
#include "platform/numeric.h"
#include "platform/streams.h"
#include "platform/temp_files.h"

namespace qil {

namespace {

// Reads up to Count bytes at the stream's position and moves back; answers the bytes read.
int64_t Peek(TStream& stream, uint8_t* buffer, int64_t count) {
    int64_t pos = stream.Position();
    int64_t n = stream.Read(buffer, count);
    stream.Seek(pos, TSeekOrigin::soBeginning);
    return n < 0 ? 0 : n;
}

// The process umask, read without changing it (umask() would change it for every thread
// for a moment).
mode_t CurrentUmask() {
    mode_t mask = 022;
    if (FILE* f = std::fopen("/proc/self/status", "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, f)) {
            unsigned value;
            if (std::sscanf(line, "Umask: %o", &value) == 1) {
                mask = static_cast<mode_t>(value);
                break;
            }
        }
        std::fclose(f);
    }
    return mask;
}

std::string DirectoryOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

}  // namespace

// ---- Signatures ----

bool TDIB::IsBitmapStream(TStream& stream) {
    uint8_t b[14];
    int64_t n = Peek(stream, b, 14);
    return n >= 2 && (b[0] | (b[1] << 8)) == 0x4D42;
}

bool TDIB::IsTiffStream(TStream& stream) {
    uint8_t b[4];
    int64_t n = Peek(stream, b, 4);
    return n >= 2 && ((b[0] == 'I' && b[1] == 'I') || (b[0] == 'M' && b[1] == 'M'));
}

bool TDIB::IsPngStream(TStream& stream) {
    static const uint8_t signature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
    uint8_t b[8];
    return Peek(stream, b, 8) == 8 && std::memcmp(b, signature, 8) == 0;
}

// ---- Dispatch ----

void TDIB::LoadFromFile(const std::string& fileName, int32_t page) {
    Clear();
    TFileStream stream(fileName, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(stream, page);
}

void TDIB::LoadFromStream(TStream& stream, int32_t page) {
    if (IsBitmapStream(stream))
        LoadFromBitmapStream(stream);
    else if (IsTiffStream(stream))
        LoadFromTiffStream(stream, page);
    else if (IsPngStream(stream))
        LoadFromPngStream(stream);
    else
        LoadFromJpegStream(stream);
}

int32_t TDIB::GetPageCount(const std::string& fileName) {
    TFileStream stream(fileName, fmOpenRead | fmShareDenyWrite);
    return IsTiffStream(stream) ? CountTiffPages(stream) : 1;
}

// ---- The size limit of one image ----

namespace {
std::atomic<uint64_t> maxImageBytes{kDefaultMaxImageBytes};
}

void SetMaxImageBytes(uint64_t bytes) { maxImageBytes.store(bytes); }

uint64_t MaxImageBytes() { return maxImageBytes.load(); }

uint64_t ImageBlockBytes(uint64_t width, uint64_t height, int32_t bits) {
    uint64_t table = 40;
    if (bits == 1 || bits == 4 || bits == 8) table += 4 * (uint64_t(1) << bits);
    if (bits < 1) bits = 1;
    using Wide = unsigned __int128;
    const Wide stride = (Wide(width) * Wide(bits) + 31) / 32 * 4;
    const Wide total = stride * Wide(height) + table;
    return total > Wide(UINT64_MAX) ? UINT64_MAX : static_cast<uint64_t>(total);
}

void CheckImageSize(uint64_t width, uint64_t height, int32_t bits) {
    const uint64_t needed = ImageBlockBytes(width, height, bits);
    const uint64_t limit = MaxImageBytes();
    if (needed > limit) {
        std::string message = "Image too large: ";
        message += std::to_string(width);
        message += " x ";
        message += std::to_string(height);
        message += " pixels at ";
        message += std::to_string(bits);
        message += " bits per pixel need ";
        message += std::to_string(needed);
        message += " bytes, more than the limit of ";
        message += std::to_string(limit);
        message += " bytes";
        throw Exception(message);
    }
}

// ---- Shared helpers ----

void DiscardFailedLoad(TDIB& image) {
    bool owns = image.OwnsHandle;
    image.OwnsHandle = true;
    image.Clear();
    image.OwnsHandle = owns;
}

void RequireImage(const TDIB& image) {
    if (image.Header == nullptr || image.Rows.size() != static_cast<size_t>(image.Height()))
        throw Exception("The image is empty");
}

bool FileExists(const std::string& fileName) {
    struct stat st {};
    return ::stat(fileName.c_str(), &st) == 0;
}

int32_t ClampResolution(long double dotsPerInch) {
    if (!(dotsPerInch > 0)) return 0;  // also NaN
    if (dotsPerInch >= 65535.0L) return 65535;
    return static_cast<int32_t>(Round(dotsPerInch));
}

void WriteFileAtomically(const std::string& fileName, bool startFromExisting,
                         const std::function<void(TFileStream& stream)>& write) {
    // Replace the file a link points to, not the link.
    std::string target = fileName;
    struct stat st {};
    bool exists = ::stat(fileName.c_str(), &st) == 0;
    if (exists) {
        if (char* real = ::realpath(fileName.c_str(), nullptr)) {
            target = real;
            ::free(real);
        }
    }

    std::string tempName = target + ".tmp-XXXXXX";
    std::vector<char> pattern(tempName.begin(), tempName.end());
    pattern.push_back('\0');
    int fd = ::mkstemp(pattern.data());
    if (fd < 0) throw EFCreateError(Format("Cannot create file \"%s\". %s", fileName.c_str(), std::strerror(errno)));
    tempName = pattern.data();
    TTemporaryFileGuard tracked(tempName);
    mode_t mode = exists ? (st.st_mode & 07777) : (0666 & ~CurrentUmask());
    ::fchmod(fd, mode);
    ::close(fd);

    try {
        {
            TFileStream stream(tempName, fmOpenReadWrite);
            if (startFromExisting && exists) {
                TFileStream source(fileName, fmOpenRead | fmShareDenyWrite);
                int64_t size = source.Size();
                if (size > 0) stream.CopyFrom(source, size);
                stream.Seek(0, TSeekOrigin::soBeginning);
            }
            write(stream);
            stream.Flush();
        }
        if (::rename(tempName.c_str(), target.c_str()) != 0)
            throw EFCreateError(Format("Cannot create file \"%s\". %s", fileName.c_str(), std::strerror(errno)));
    } catch (...) {
        ::unlink(tempName.c_str());
        throw;
    }
    // Make the rename itself durable; a failure here does not undo a complete file.
    int dirFd = ::open(DirectoryOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
}

}  // namespace qil
