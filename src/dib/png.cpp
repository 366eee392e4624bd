// PNG files through the PNG codec.
#include "dib/dib.h"
#include "platform/exceptions.h"

namespace qil {

void TDIB::LoadFromPngStream(TStream&) {
    Clear();
    throw Exception("PNG reading is not built yet");
}

}  // namespace qil
