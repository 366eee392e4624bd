// The system clipboard, as the holder uses it: open it, put a packed device-independent
// bitmap on it (the clipboard then owns the block), close it.
//
// The window system installs the back end (SetClipboardBackEnd); without one every call
// fails with ERROR_CLIPBOARD_NOT_OPEN as the last error.
#pragma once

#include <cstdint>

#include "platform/memory.h"

namespace qil {

constexpr uint32_t CF_DIB = 8;
constexpr uint32_t ERROR_CLIPBOARD_NOT_OPEN = 1418;

class TClipboardBackEnd {
public:
    virtual ~TClipboardBackEnd() = default;
    virtual bool Open() = 0;
    virtual bool Close() = 0;
    virtual bool Empty() = 0;
    // Puts the block on the clipboard in the format. On success the clipboard owns the block
    // (and frees it when it no longer needs it); on failure the caller keeps it.
    virtual bool SetData(uint32_t format, HGLOBAL block) = 0;
};

// The back end used by the calls below (not owned); nullptr removes it.
void SetClipboardBackEnd(TClipboardBackEnd* backEnd);
TClipboardBackEnd* ClipboardBackEnd();

bool OpenClipboard();
bool CloseClipboard();
bool EmptyClipboard();
// Answers the block on success, 0 on failure (the caller keeps the block then).
HGLOBAL SetClipboardData(uint32_t format, HGLOBAL block);

}  // namespace qil
