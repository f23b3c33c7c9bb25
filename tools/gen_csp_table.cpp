// Build-time generator: the Content-Security-Policy sources of the pages' own
// scripts and handlers (page/script.h) for every language section of the
// shipped message file, written as the table page/script.cpp looks them up
// in, so that a page built from the shipped texts hashes nothing. The texts
// are made by the same functions the pages use, from the file as the program
// loads it. Usage: velt-gen-csp VELT_LNG OUTPUT
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <tuple>

#include "page/script.h"
#include "settings/strdef.h"

namespace {

// The names of the file's sections: every line that starts with "[" and
// holds a "]" names the text between them.
std::set<std::string> section_names(const std::string& path) {
    std::set<std::string> names;
    std::ifstream in(path, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        const std::size_t close = line.find(']');
        if (!line.empty() && line[0] == '[' && close != std::string::npos) names.insert(line.substr(1, close - 1));
    }
    return names;
}

// text as a C++ string literal: every byte a \x escape, in pieces of 32.
std::string literal(const std::string& text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (i > 0 && i % 32 == 0) out += "\"\n     \"";
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02x", static_cast<unsigned char>(text[i]));
        out += hex;
    }
    return out + "\"";
}

// The table (the whole of it is large: one at a time, kept off the stack).
STRDEF_REC g_messages;

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s VELT_LNG OUTPUT\n", argv[0]);
        return 2;
    }
    // Each script or handler with the messages it takes in each section (the
    // empty text where it takes none), and its source.
    std::set<std::tuple<int, std::string, std::string, std::string>> known;
    for (const std::string& language : section_names(argv[1])) {
        if (StrdefFileOpen(argv[1], language.c_str(), &g_messages) != 0) {
            std::fprintf(stderr, "%s: cannot read %s\n", argv[0], argv[1]);
            return 1;
        }
        for (int id = 0; id < PAGE_SCRIPT_COUNT; ++id) {
            const char* m0 = "";
            const char* m1 = "";
            G_script_messages(id, g_messages, &m0, &m1);
            known.insert({id, m0, m1, G_csp_source(G_script_text_in(id, g_messages))});
        }
    }
    std::ostringstream out;
    out << "// Made by velt-gen-csp from the shipped velt.lng at build time: not to be edited.\n"
        << "const KNOWN_SOURCE csp_known[] = {\n";
    for (const auto& k : known) {
        out << "    {" << std::get<0>(k) << ", {" << literal(std::get<1>(k)) << ", " << literal(std::get<2>(k))
            << "}, \"" << std::get<3>(k) << "\"},\n";
    }
    // An empty message file still makes a table: one entry no id matches.
    if (known.empty()) out << "    {-1, {\"\", \"\"}, \"\"},\n";
    out << "};\n";
    std::ofstream file(argv[2], std::ios::binary | std::ios::trunc);
    file << out.str();
    if (!file.flush()) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[2]);
        return 1;
    }
    return 0;
}
