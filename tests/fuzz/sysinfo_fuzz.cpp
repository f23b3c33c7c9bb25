// Fuzz target of the zepa.ini reader: any file loads without overrun, every
// text setting stays terminated inside its field, a key the file never names
// keeps its default, and a last well-formed line of a key always wins.
#include <cstring>
#include <string>

#include "settings/sysinfo.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// The settings the loader fills (the store layer keeps reading its data
// directory and time correction where they stand).
SYSINFO_REC SYSINFO;

bool terminated(const char* field, std::size_t cap) { return strnlen(field, cap) < cap; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string file(reinterpret_cast<const char*>(data), size);
    file += "\nMAILER,fz@example.org,\n";
    const std::string path = fuzz::scratch_file("zepa.ini", reinterpret_cast<const uint8_t*>(file.data()), file.size());
    FUZZ_CHECK(SysFileOpen(path.c_str(), &SYSINFO) == 0);

#define TEXT_OK(f) FUZZ_CHECK(terminated(SYSINFO.f, sizeof SYSINFO.f))
    TEXT_OK(SITE_ID); TEXT_OK(LANGUAGE); TEXT_OK(CGI_FILE_NAME); TEXT_OK(CG_FILE_PATH);
    TEXT_OK(CG_FILE_WEB_PATH); TEXT_OK(DATA_FILE_PATH); TEXT_OK(BACK_GIF); TEXT_OK(LOG_DATE);
    TEXT_OK(LOGOFF_URL); TEXT_OK(LOGIN_ERR_URL); TEXT_OK(FRAME_DIVIDE); TEXT_OK(TIME_CORRECT);
    TEXT_OK(MAILER);
#undef TEXT_OK
    FUZZ_CHECK(std::strcmp(SYSINFO.MAILER, "fz@example.org") == 0);

    // Defaults of keys that the input never spells out.
    const std::string in(reinterpret_cast<const char*>(data), size);
    if (in.find("ROWS") == std::string::npos) FUZZ_CHECK(SYSINFO.ROWS == 8);
    if (in.find("ATTACHED_FILE_LIMIT") == std::string::npos) FUZZ_CHECK(SYSINFO.ATTACHED_FILE_LIMIT == 10000000);
    if (in.find("FRAME_DIVIDE") == std::string::npos) FUZZ_CHECK(std::strcmp(SYSINFO.FRAME_DIVIDE, "20%") == 0);
    if (in.find("DATA_FILE_PATH") == std::string::npos) FUZZ_CHECK(SYSINFO.DATA_FILE_PATH[0] == '\0');
    return 0;
}
