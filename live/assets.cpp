// The live view's embedded files (see assets.h): their bytes, content types
// and digests come from the include that live/embed.cmake writes at build
// time from live/web/.
#include "live/assets.h"

#include <cstring>

namespace {

#include "live_assets.inc"

}  // namespace

const LIVE_ASSET* live_asset(const char* name) {
    if (name == nullptr) return nullptr;
    for (const LIVE_ASSET& a : live_embedded)
        if (std::strcmp(a.name, name) == 0) return &a;
    return nullptr;
}
