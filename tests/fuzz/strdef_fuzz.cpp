// Fuzz target of the velt.lng reader. The input's first line names the
// language, the rest is the file. Any file loads without overrun; message 0
// stays empty, every message is terminated inside its width and is text of
// the file; without the section's header the table is empty.
#include <cstring>
#include <string>

#include "settings/strdef.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// The table the loader fills.
STRDEF_REC STRDEF;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string in(reinterpret_cast<const char*>(data), size);
    const std::size_t nl = in.find('\n');
    const std::string language = fuzz::split0(data, nl == std::string::npos ? size : nl, 1)[0];
    const std::string file = nl == std::string::npos ? std::string() : in.substr(nl + 1);
    const std::string path = fuzz::scratch_file("velt.lng", reinterpret_cast<const uint8_t*>(file.data()), file.size());
    FUZZ_CHECK(StrdefFileOpen(path.c_str(), language.c_str(), &STRDEF) == 0);

    FUZZ_CHECK(strdef_text(STRDEF, 0)[0] == '\0');
    // The header as the reader forms it: "[language]" cut to 101 bytes.
    const std::string header = ("[" + language + "]").substr(0, 101);
    // Anywhere: a long line is read in pieces, and a piece may start with it.
    const bool has_section = file.find(header) != std::string::npos;
    for (int k = 0; k < STRDEF_COUNT; ++k) {
        const char* m = strdef_text(STRDEF, k);
        FUZZ_CHECK(strnlen(m, STRDEF_WIDTH) < STRDEF_WIDTH);
        if (m[0] == '\0') continue;
        FUZZ_CHECK(has_section);
        FUZZ_CHECK(file.find(m) != std::string::npos);
        FUZZ_CHECK(std::strchr(m, '\n') == nullptr);
    }
    return 0;
}
