#include "platform/printer.h"

#include <atomic>

#include "platform/exceptions.h"

namespace qil {

namespace {
std::atomic<TPrinter*> current{nullptr};
}

void SetPrinter(TPrinter* printer) { current.store(printer); }

TPrinter* Printer() {
    TPrinter* p = current.load();
    if (!p) throw Exception("There is no default printer currently selected");
    return p;
}

}  // namespace qil
