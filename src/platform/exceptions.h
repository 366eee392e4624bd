// Exception classes of the library. what() is always the message text itself.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace qil {

// Base of every failure the library raises. Algorithms raise it with one of their fixed
// English messages; the application shows what() to the user.
class Exception : public std::exception {
public:
    explicit Exception(std::string message) : Message(std::move(message)) {}
    const char* what() const noexcept override { return Message.c_str(); }
    std::string Message;
};

// A failed call into the platform layer (memory blocks, files). Formatted as
// "System Error.  Code: %d.\r\n%s", or "A call to an OS function failed" when no code is set.
class EOSError : public Exception {
public:
    EOSError(uint32_t code, std::string message) : Exception(std::move(message)), ErrorCode(code) {}
    uint32_t ErrorCode;
};

// Text that is not a number.
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// An index outside a list.
class EListError : public Exception {
public:
    using Exception::Exception;
};

// Stream errors: a file that cannot be opened or created, a short read or write.
class EStreamError : public Exception {
public:
    using Exception::Exception;
};
class EFOpenError : public EStreamError {
public:
    using EStreamError::EStreamError;
};
class EFCreateError : public EStreamError {
public:
    using EStreamError::EStreamError;
};
class EReadError : public EStreamError {
public:
    using EStreamError::EStreamError;
};
class EWriteError : public EStreamError {
public:
    using EStreamError::EStreamError;
};

// printf-style formatting into a std::string.
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

}  // namespace qil
