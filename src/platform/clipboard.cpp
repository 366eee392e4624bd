#include "platform/clipboard.h"

#include <atomic>

namespace qil {

namespace {
std::atomic<TClipboardBackEnd*> backEnd{nullptr};

TClipboardBackEnd* Current() {
    TClipboardBackEnd* b = backEnd.load();
    if (!b) SetLastError(ERROR_CLIPBOARD_NOT_OPEN);
    return b;
}
}  // namespace

void SetClipboardBackEnd(TClipboardBackEnd* b) { backEnd.store(b); }
TClipboardBackEnd* ClipboardBackEnd() { return backEnd.load(); }

bool OpenClipboard() {
    TClipboardBackEnd* b = Current();
    return b && b->Open();
}

bool CloseClipboard() {
    TClipboardBackEnd* b = Current();
    return b && b->Close();
}

bool EmptyClipboard() {
    TClipboardBackEnd* b = Current();
    return b && b->Empty();
}

HGLOBAL SetClipboardData(uint32_t format, HGLOBAL block) {
    TClipboardBackEnd* b = Current();
    return b && b->SetData(format, block) ? block : 0;
}

}  // namespace qil
