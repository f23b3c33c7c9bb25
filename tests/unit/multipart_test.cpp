// Unit tests of the multipart reader: pairs and uploads from bodies in memory
// and on standard input, temporary names, cut-off bodies, the clean-up.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cgi/cgilib61.h"
#include "cgi/multipart.h"
#include "store/fileio.h"
#include "store/datetime.h"

namespace {

const char BOUNDARY[] = "----veltBoundary7MA4YWxkTrZu0gW";

// The parameters of the request under test; uploads go to its data_dir.
CGI_PARAMS params;

std::string type_with(const std::string& boundary) {
    return "multipart/form-data; boundary=" + boundary;
}

// Body builder in the shape browsers send.
struct Body {
    std::string boundary = BOUNDARY;
    std::string text;
    void field(const std::string& name, const std::string& value) {
        text += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" +
                value + "\r\n";
    }
    void file(const std::string& name, const std::string& filename, const std::string& content,
              const std::string& type = "application/octet-stream") {
        text += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name +
                "\"; filename=\"" + filename + "\"\r\nContent-Type: " + type + "\r\n\r\n" + content +
                "\r\n";
    }
    std::string close() const { return text + "--" + boundary + "--\r\n"; }
};

std::string read_all(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void write_all(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

bool exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

std::set<std::string> names_in(const std::string& dir) {
    std::set<std::string> names;
    DIR* d = opendir(dir.c_str());
    if (!d) return names;
    while (dirent* e = readdir(d)) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.insert(e->d_name);
    }
    closedir(d);
    return names;
}

// The temporary path of an upload field's value "<browser name>,<path>",
// checked to be <data_dir>CGI<n>, n printed in decimal and in 0..2147483647;
// a failure and "" for any other value.
std::string upload_path(const std::string& value, const std::string& browser_name, const std::string& data_dir) {
    const std::string head = browser_name + "," + data_dir + "CGI";
    const std::string digits = value.compare(0, head.size(), head) == 0 ? value.substr(head.size()) : "";
    if (!digits.empty() && digits.size() <= 10 && digits.find_first_not_of("0123456789") == std::string::npos &&
        std::to_string(std::stoull(digits)) == digits && std::stoull(digits) <= 2147483647ull)
        return value.substr(browser_name.size() + 1);
    ADD_FAILURE() << "not an upload of " << browser_name << " under " << data_dir << ": " << value;
    return "";
}

// Every pair of the parameter list, in order.
std::vector<std::pair<std::string, std::string>> pairs() {
    std::vector<std::pair<std::string, std::string>> out;
    for (const CGI_PAIR* n = &params.list; n && n->name; n = n->next) out.emplace_back(n->name, n->value);
    return out;
}

std::string value_of(const char* name, int index = 0) {
    static char buf[200000];
    cgi_getvalue(&params, name, index, buf, sizeof buf);
    return buf;
}

std::string bytes_with_zeros(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (auto& c : s) c = static_cast<char>(rng() & 0xFF);
    if (n > 10) {
        s[0] = '\0';
        s[n / 2] = '\0';
    }
    return s;
}

class Multipart : public ::testing::Test {
protected:
    long saved_offset = 0;
    std::string dir;  // the data directory, with a trailing '/'

    void SetUp() override {
        saved_offset = Tm_clock_offset;
        char tmpl[] = "/tmp/velt_mp_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = std::string(tmpl) + "/";
        params = CGI_PARAMS{};
        std::snprintf(params.data_dir, sizeof params.data_dir, "%s", dir.c_str());
        Fio_set_data_dir(params.data_dir);
    }
    void TearDown() override {
        // Releases the list and the record of uploads; with the clock far
        // ahead it also clears every temporary file.
        Tm_clock_offset = 24 * 3600;
        cgi_free(&params);
        Tm_clock_offset = saved_offset;
        std::string cmd = "rm -rf '" + dir + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    }

    int read(const std::string& body, int result = 0, int store_files = 1,
             const std::string& type = type_with(BOUNDARY)) {
        return cgi_multipart_mem(&params, type.c_str(), static_cast<uint32_t>(body.size()), body.data(),
                                 static_cast<uint32_t>(body.size()), result, store_files);
    }
};

TEST_F(Multipart, TextFieldsKeepTheirBytesWithoutTheLineBreakBeforeTheBoundary) {
    Body b;
    b.field("CTALK", "hello");
    b.field("RAW", "%41+a=b&c");
    b.field("SJIS", "\x95\x5C\x83\x5C,\"q\"");
    b.field("EMPTY", "");
    b.field("LINES", "one\r\ntwo\r\n");
    EXPECT_EQ(read(b.close()), 0);
    auto p = pairs();
    ASSERT_EQ(p.size(), 5u);
    EXPECT_EQ(p[0], std::make_pair(std::string("CTALK"), std::string("hello")));
    EXPECT_EQ(p[1].second, "%41+a=b&c");
    EXPECT_EQ(p[2].second, "\x95\x5C\x83\x5C,\"q\"");
    EXPECT_EQ(p[3], std::make_pair(std::string("EMPTY"), std::string("")));
    EXPECT_EQ(p[4].second, "one\r\ntwo\r\n");
    // Reading stops right after the closing "--".
    EXPECT_EQ(params.input_byte, params.content_length - 2);
}

TEST_F(Multipart, ATextFieldWithItsOwnContentTypeLineIsRead) {
    std::string body = std::string("--") + BOUNDARY +
                       "\r\nContent-Disposition: form-data; name=\"CTALK\"\r\n"
                       "Content-Type: text/plain; charset=Shift_JIS\r\n\r\nhi there\r\n--" +
                       BOUNDARY + "\r\nContent-Disposition: form-data; name=\"JOB\"\r\n\r\nCWRITE\r\n--" +
                       BOUNDARY + "--\r\n";
    read(body);
    EXPECT_EQ(value_of("CTALK"), "hi there");
    EXPECT_EQ(value_of("JOB"), "CWRITE");
}

TEST_F(Multipart, TheResultIsPassedOnAndNoOpeningBoundaryGivesNothing) {
    Body b;
    b.field("a", "1");
    EXPECT_EQ(read(b.close(), -2), -2);
    EXPECT_EQ(value_of("a"), "1");
    cgi_free(&params);

    // A quoted boundary parameter keeps its quotes and so never matches.
    EXPECT_EQ(read(b.close(), -2, 1, "multipart/form-data; boundary=\"" + std::string(BOUNDARY) + "\""), 0);
    EXPECT_TRUE(pairs().empty());
    EXPECT_EQ(read("", -2), 0);
    EXPECT_TRUE(pairs().empty());
}

TEST_F(Multipart, TheBoundaryParameterEndsAtTheTextsEndOrABracket) {
    char out[MP_BOUNDARY_CAP];
    cgi_mp_boundary("multipart/form-data; boundary=abc]def", out);
    EXPECT_STREQ(out, "--abc");
    cgi_mp_boundary("multipart/form-data; boundary=\"a b\"; x=1", out);
    EXPECT_STREQ(out, "--\"a b\"; x=1");
    cgi_mp_boundary("boundary=abc", out);  // not after a media type
    EXPECT_STREQ(out, "--");
    cgi_mp_boundary("multipart/form-data", out);
    EXPECT_STREQ(out, "--");
    cgi_mp_boundary("", out);
    EXPECT_STREQ(out, "--");
    std::string longer = "x; boundary=" + std::string(150, 'b');
    cgi_mp_boundary(longer.c_str(), out);
    EXPECT_EQ(std::string(out), "--" + std::string(97, 'b'));

    // A body cut to the bracket's boundary is read with it.
    Body b;
    b.boundary = "abc";
    b.field("k", "v");
    read(b.close(), 0, 1, "multipart/form-data; boundary=abc]");
    EXPECT_EQ(value_of("k"), "v");
}

TEST_F(Multipart, UploadsArriveByteForByteWhateverTheirLength) {
    const std::vector<std::size_t> sizes = {0, 1, 2, 999, 1000, 1001, 1002, 1003, 1998, 2000, 2002, 70000};
    for (std::size_t size : sizes) {
        SCOPED_TRACE(size);
        std::string content = bytes_with_zeros(size, static_cast<unsigned>(size));
        Body b;
        b.file("BG1", "a.gif", content, "image/gif");
        read(b.close());
        const std::string path = upload_path(value_of("BG1"), "a.gif", dir);
        ASSERT_NE(path, "");
        EXPECT_TRUE(cgi_is_own_upload(&params, path.c_str()));
        std::string got = read_all(path);
        EXPECT_EQ(got.size(), content.size());
        EXPECT_TRUE(got == content);
        cgi_free(&params);
        ASSERT_FALSE(exists(path));
    }
}

TEST_F(Multipart, ContentEndingInLineBreaksOrLookingLikeTheBoundaryIsKept) {
    const std::string bnd = std::string("--") + BOUNDARY;
    const std::vector<std::string> contents = {
        "line\r\n",                                   // its own line break stays
        "\r\n\r\n",
        "\r",
        "\n",
        std::string("a\0b\0\0c", 6),
        "\r\n" + bnd.substr(0, bnd.size() - 1) + "X",  // the boundary but its last byte
        bnd.substr(1) + "\r\n" + bnd.substr(0, 10),
        "-" + bnd.substr(0, bnd.size() - 1),
        std::string(999, '-') + "\r\n-",
    };
    for (std::size_t i = 0; i < contents.size(); ++i) {
        SCOPED_TRACE(i);
        Body b;
        b.file("F", "x.bin", contents[i]);
        b.field("AFTER", "ok");
        read(b.close());
        EXPECT_TRUE(read_all(upload_path(value_of("F"), "x.bin", dir)) == contents[i]);
        EXPECT_EQ(value_of("AFTER"), "ok");
        Tm_clock_offset = 24 * 3600;
        cgi_free(&params);
        Tm_clock_offset = 0;
    }
}

TEST_F(Multipart, TwoFileFieldsGetTwoDifferentNames) {
    Body b;
    b.file("BG1", "C:\\pics\\a.gif", "AAA");
    b.field("MID", "m");
    b.file("BG2", "b.jpg", "BBBB");
    read(b.close());
    const std::string first = upload_path(value_of("BG1"), "C:\\pics\\a.gif", dir);
    const std::string second = upload_path(value_of("BG2"), "b.jpg", dir);
    EXPECT_NE(first, second);
    EXPECT_EQ(names_in(dir).size(), 2u);
    EXPECT_EQ(read_all(first), "AAA");
    EXPECT_EQ(read_all(second), "BBBB");
    EXPECT_TRUE(cgi_is_own_upload(&params, first.c_str()));
    EXPECT_TRUE(cgi_is_own_upload(&params, second.c_str()));
    EXPECT_FALSE(cgi_is_own_upload(&params, (dir + "CGI").c_str()));
    EXPECT_FALSE(cgi_is_own_upload(&params, "/etc/passwd"));
    EXPECT_FALSE(cgi_is_own_upload(&params, ""));
}

TEST_F(Multipart, FilesThatExistBeforehandAreNeverReusedOrTouched) {
    const std::vector<std::pair<std::string, std::string>> before = {{dir + "CGI0", "someone else's"},
                                                                     {dir + "CGI2", "also taken"}};
    for (const auto& f : before) write_all(f.first, f.second);
    Body b;
    b.file("A", "a", "one");
    b.file("B", "b", "two");
    read(b.close());
    const std::string one = upload_path(value_of("A"), "a", dir);
    const std::string two = upload_path(value_of("B"), "b", dir);
    EXPECT_NE(one, two);
    EXPECT_EQ(read_all(one), "one");
    EXPECT_EQ(read_all(two), "two");
    for (const auto& f : before) {
        EXPECT_NE(one, f.first);
        EXPECT_NE(two, f.first);
        EXPECT_EQ(read_all(f.first), f.second);
        EXPECT_FALSE(cgi_is_own_upload(&params, f.first.c_str()));
    }
}

TEST_F(Multipart, AnEmptyFileNameMakesNoFileAndSkipsItsContent) {
    Body b;
    b.file("BG1", "", "ignored content");
    b.field("NEXT", "n");
    read(b.close());
    auto p = pairs();
    ASSERT_EQ(p.size(), 2u);
    EXPECT_EQ(p[0], std::make_pair(std::string("BG1"), std::string("")));
    EXPECT_EQ(p[1].second, "n");
    EXPECT_TRUE(names_in(dir).empty());
}

TEST_F(Multipart, OverTheUploadLimitFileFieldsAreEmptyAndTextFieldsStay) {
    Body b;
    b.field("CTALK", "kept");
    b.file("BG1", "big.gif", std::string(5000, 'x'));
    EXPECT_EQ(read(b.close(), -2, 0), -2);
    EXPECT_EQ(value_of("CTALK"), "kept");
    EXPECT_EQ(value_of("BG1"), "");
    EXPECT_TRUE(names_in(dir).empty());
}

TEST_F(Multipart, AnUploadThatCannotBeStoredIsNotThisRequestsOwn) {
    std::snprintf(params.data_dir, sizeof params.data_dir, "%snot_there/", dir.c_str());
    Body b;
    b.file("BG1", "a.gif", "data");
    b.field("NEXT", "n");
    EXPECT_EQ(read(b.close()), CGI_NOT_STORED);
    const std::string path = upload_path(value_of("BG1"), "a.gif", dir + "not_there/");
    EXPECT_FALSE(exists(path));
    EXPECT_FALSE(cgi_is_own_upload(&params, path.c_str()));
    EXPECT_EQ(value_of("NEXT"), "n");
}

TEST_F(Multipart, BackslashesOfTheDataDirectoryBecomeSlashesInTheValue) {
    std::string back = dir.substr(0, dir.size() - 1) + "\\";
    std::snprintf(params.data_dir, sizeof params.data_dir, "%s", back.c_str());
    Body b;
    b.file("BG1", "a.gif", "data");
    read(b.close());
    const std::string path = upload_path(value_of("BG1"), "a.gif", dir);
    ASSERT_NE(path, "");
    EXPECT_TRUE(cgi_is_own_upload(&params, (back + path.substr(dir.size())).c_str()));
    EXPECT_EQ(read_all(path), "data");
}

TEST_F(Multipart, ACutOffBodyIsReportedCutAndReadsNoFurther) {
    Body b;
    b.field("A", "first");
    b.field("B", "second value");
    b.file("F", "f.bin", std::string(3000, 'z'));
    const std::string whole = b.close();

    // Whole up to its final boundary, however long it was declared: the
    // reading stops there and never waits for the rest.
    EXPECT_EQ(cgi_multipart_mem(&params, type_with(BOUNDARY).c_str(), static_cast<uint32_t>(whole.size() + 100),
                                whole.data(), static_cast<uint32_t>(whole.size() - 2), 0, 1),
              0);
    EXPECT_EQ(value_of("B"), "second value");
    cgi_free(&params);

    // Cut inside B's value: A whole, B as far as it came.
    std::size_t cut = whole.find("second") + 3;
    EXPECT_EQ(cgi_multipart_mem(&params, type_with(BOUNDARY).c_str(), static_cast<uint32_t>(whole.size()), whole.data(),
                                static_cast<uint32_t>(cut), 0, 1),
              CGI_CUT);
    EXPECT_EQ(value_of("A"), "first");
    EXPECT_EQ(value_of("B"), "sec");
    EXPECT_EQ(params.input_byte, cut);
    EXPECT_EQ(cgi_mp_getc(&params), -1);
    cgi_free(&params);

    // Cut inside a header: the part is not added.
    cut = whole.find("name=\"B") + 3;
    EXPECT_EQ(cgi_multipart_mem(&params, type_with(BOUNDARY).c_str(), static_cast<uint32_t>(whole.size()), whole.data(),
                                static_cast<uint32_t>(cut), -2, 1),
              CGI_CUT);
    auto p = pairs();
    ASSERT_EQ(p.size(), 1u);
    EXPECT_EQ(p[0].first, "A");
    cgi_free(&params);

    // Cut inside the file's content: the reading ends, the field is listed,
    // and only whole written blocks are in the file.
    cut = whole.find("zzz") + 2500;
    EXPECT_EQ(cgi_multipart_mem(&params, type_with(BOUNDARY).c_str(), static_cast<uint32_t>(whole.size()), whole.data(),
                                static_cast<uint32_t>(cut), 0, 1),
              CGI_CUT);
    const std::string path = upload_path(value_of("F"), "f.bin", dir);
    std::string got = read_all(path);
    EXPECT_LT(got.size(), 2500u);
    EXPECT_EQ(got, std::string(got.size(), 'z'));
    // The request's end removes it.
    cgi_free(&params);
    EXPECT_FALSE(exists(path));

    // Cut before any boundary came.
    EXPECT_EQ(cgi_multipart_mem(&params, type_with(BOUNDARY).c_str(), 500, whole.data(), 10, 0, 1), CGI_CUT);
    EXPECT_TRUE(pairs().empty());
}

TEST_F(Multipart, ReadingNeverGoesPastTheDeclaredLength) {
    Body b;
    b.field("A", "abcdef");
    const std::string whole = b.close();
    const std::size_t declared = whole.find("abc") + 2;
    cgi_multipart_mem(&params, type_with(BOUNDARY).c_str(), static_cast<uint32_t>(declared), whole.data(),
                      static_cast<uint32_t>(whole.size()), 0, 1);
    EXPECT_EQ(value_of("A"), "ab");
    EXPECT_EQ(params.input_byte, declared);
}

TEST_F(Multipart, ALongTextValueKeepsItsFirst99998Bytes) {
    std::string big(150000, 'q');
    for (std::size_t i = 0; i < big.size(); i += 7) big[i] = static_cast<char>('a' + i % 26);
    // The part reader alone: the value is read to its boundary, its first
    // 99998 bytes kept.
    const std::string bnd = std::string("--") + BOUNDARY;
    const std::string part = big + "\r\n" + bnd + "\r\nX";
    params.content_length = static_cast<uint32_t>(part.size());
    cgi_mp_input_mem(&params, part.data(), params.content_length);
    std::vector<char> out(MP_VALUE_CAP);
    EXPECT_EQ(cgi_mp_get_str(&params, out.data(), bnd.c_str()), 0);
    std::string got = out.data();
    EXPECT_EQ(got.size(), 99998u);
    EXPECT_TRUE(got == big.substr(0, 99998));
    EXPECT_EQ(cgi_mp_getc(&params), 'X');

    // In a request such a value passes what the fields may hold: the
    // reading stops there (see TextFieldsBeyondTheFieldsLimitStopTheReading).
    Body b;
    b.field("B", big);
    b.field("NEXT", "n");
    EXPECT_EQ(read(b.close()), CGI_TOO_LARGE);
    EXPECT_EQ(value_of("NEXT"), "");

    // A text value ends at its first zero byte.
    cgi_free(&params);
    Body z;
    z.field("Z", std::string("ab\0cd", 5));
    read(z.close());
    EXPECT_EQ(value_of("Z"), "ab");
}

TEST_F(Multipart, TextFieldsBeyondTheFieldsLimitStopTheReading) {
    // Every pair counts its "name=value" and 64 bytes for its node: A, B and
    // LAST below take 204 bytes beside A's value.
    using Fields = std::vector<std::pair<std::string, std::string>>;
    const std::string just(CGI_FIELDS_LIMIT - 204, 'v');
    struct Case {
        Fields fields;
        bool fits;
        uint32_t read_at_most;  // bytes of the body read before the refusal (0: any)
    };
    const std::vector<Case> cases = {
        {{{"A", just}, {"B", "\x95\x5C"}}, true, 0},
        {{{"A", just + "w"}, {"B", "\x95\x5C"}}, false, 0},
        {{{"A", std::string(300000, 'v')}}, false, CGI_FIELDS_LIMIT + 200},
        {Fields(1008, {"", ""}), false, 0},  // 65 bytes each, and LAST
        {Fields(1007, {"", ""}), true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fields.size());
        Body b;
        for (const auto& f : c.fields) b.field(f.first, f.second);
        b.field("LAST", "l");
        const int r = read(b.close());
        EXPECT_EQ(r, c.fits ? 0 : CGI_TOO_LARGE);
        EXPECT_EQ(value_of("LAST"), c.fits ? "l" : "");
        if (c.read_at_most != 0) {
            EXPECT_LE(params.input_byte, c.read_at_most);
        }
        cgi_free(&params);
    }

    // An upload made before the fields went over is the request's own, and
    // goes with it.
    Body b;
    b.file("F", "early.gif", "upload before the fields");
    b.field("A", std::string(CGI_FIELDS_LIMIT, 'v'));
    EXPECT_EQ(read(b.close()), CGI_TOO_LARGE);
    const std::string path = upload_path(value_of("F"), "early.gif", dir);
    EXPECT_TRUE(cgi_is_own_upload(&params, path.c_str()));
    cgi_free(&params);
    EXPECT_FALSE(exists(path));
}

TEST_F(Multipart, LongNamesAndFileNamesAreCut) {
    Body b;
    b.file(std::string(1500, 'n'), std::string(1500, 'f'), "c");
    read(b.close());
    auto p = pairs();
    ASSERT_EQ(p.size(), 1u);
    EXPECT_EQ(p[0].first, std::string(999, 'n'));
    upload_path(p[0].second, std::string(999, 'f'), dir);
}

TEST_F(Multipart, ThePartReadersAnswerAsDocumented) {
    std::string bnd = std::string("--") + BOUNDARY;
    std::string body = "preamble\r\n" + bnd + "\r\n";
    cgi_mp_input_mem(&params, body.data(), static_cast<uint32_t>(body.size()));
    params.content_length = static_cast<uint32_t>(body.size());
    EXPECT_EQ(cgi_mp_wait_boundary(&params, bnd.c_str()), 0);

    body = bnd + "--\r\n";
    params.content_length = static_cast<uint32_t>(body.size());
    cgi_mp_input_mem(&params, body.data(), params.content_length);
    EXPECT_EQ(cgi_mp_wait_boundary(&params, bnd.c_str()), -1);

    body = "no boundary here";
    params.content_length = static_cast<uint32_t>(body.size());
    cgi_mp_input_mem(&params, body.data(), params.content_length);
    EXPECT_EQ(cgi_mp_wait_boundary(&params, bnd.c_str()), -1);

    char name[MP_NAME_CAP];
    char file[MP_NAME_CAP];
    body = "X-Other: 1\r\nContent-Disposition: form-data; name=\"nm\"; filename=\"C:\\a b.gif\"\r\nrest";
    params.content_length = static_cast<uint32_t>(body.size());
    cgi_mp_input_mem(&params, body.data(), params.content_length);
    EXPECT_EQ(cgi_mp_get_name(&params, name), 0);
    EXPECT_STREQ(name, "nm");
    EXPECT_EQ(cgi_mp_get_filename(&params, file), 0);
    EXPECT_STREQ(file, "C:\\a b.gif");
    EXPECT_EQ(cgi_mp_getc(&params), 'r');

    // A file name without its closing quote on the line: a text field.
    body = "Content-Disposition: form-data; name=\"nm\"; filename=\"abc\r\n\r\n";
    params.content_length = static_cast<uint32_t>(body.size());
    cgi_mp_input_mem(&params, body.data(), params.content_length);
    EXPECT_EQ(cgi_mp_get_name(&params, name), 0);
    EXPECT_EQ(cgi_mp_get_filename(&params, file), -1);

    // No name anywhere: the body ends while it is sought.
    body = "Content-Type: text/plain\r\n\r\n";
    params.content_length = static_cast<uint32_t>(body.size());
    cgi_mp_input_mem(&params, body.data(), params.content_length);
    EXPECT_EQ(cgi_mp_get_name(&params, name), -1);
    EXPECT_STREQ(name, "");

    char value[MP_VALUE_CAP];
    body = "val\r\n" + bnd + "\r\nnext";
    params.content_length = static_cast<uint32_t>(body.size());
    cgi_mp_input_mem(&params, body.data(), params.content_length);
    EXPECT_EQ(cgi_mp_get_str(&params, value, bnd.c_str()), 0);
    EXPECT_STREQ(value, "val");
    EXPECT_EQ(cgi_mp_getc(&params), 'n');

    body = "val\r\n" + bnd + "--";
    params.content_length = static_cast<uint32_t>(body.size());
    cgi_mp_input_mem(&params, body.data(), params.content_length);
    EXPECT_EQ(cgi_mp_get_str(&params, value, bnd.c_str()), -1);
    EXPECT_STREQ(value, "val");

    body = "x\r\nline two\nthree";
    params.content_length = static_cast<uint32_t>(body.size());
    cgi_mp_input_mem(&params, body.data(), params.content_length);
    cgi_mp_get_0x0a(&params);
    EXPECT_EQ(cgi_mp_getc(&params), 'l');
    cgi_mp_get_0x0a(&params);
    cgi_mp_get_0x0a(&params);
    EXPECT_EQ(cgi_mp_getc(&params), -1);
    EXPECT_EQ(params.input_byte, params.content_length);

    // cgi_mp_get_bindata with an empty name reads and drops the content.
    body = std::string(3000, 'd') + "\r\n" + bnd + "\r\nX";
    params.content_length = static_cast<uint32_t>(body.size());
    cgi_mp_input_mem(&params, body.data(), params.content_length);
    EXPECT_EQ(cgi_mp_get_bindata(&params, "", bnd.c_str()), 0);
    EXPECT_EQ(cgi_mp_getc(&params), 'X');
    EXPECT_TRUE(names_in(dir).empty());
}

TEST_F(Multipart, DamagedBodiesEndTheReadingWithoutOverrun) {
    Body b;
    b.field("CTALK", "hello");
    b.file("BG1", "a.gif", bytes_with_zeros(2500, 7));
    b.field("X", "y");
    const std::string whole = b.close();
    std::mt19937 rng(12345);
    for (int round = 0; round < 400; ++round) {
        std::string body = whole;
        int edits = 1 + static_cast<int>(rng() % 8);
        for (int e = 0; e < edits; ++e) {
            std::size_t at = rng() % body.size();
            switch (rng() % 3) {
                case 0: body[at] = static_cast<char>(rng() & 0xFF); break;
                case 1: body.erase(at, 1 + rng() % 40); break;
                default: body.insert(at, std::string(1 + rng() % 5, "\r\n\"-="[rng() % 5])); break;
            }
            if (body.empty()) body = "-";
        }
        uint32_t declared = static_cast<uint32_t>(body.size() + (rng() % 3 == 0 ? 100 : 0));
        cgi_multipart_mem(&params, type_with(BOUNDARY).c_str(), declared, body.data(), static_cast<uint32_t>(body.size()),
                          0, 1);
        ASSERT_LE(params.input_byte, declared);
        for (const auto& p : pairs()) {
            ASSERT_LT(p.first.size(), static_cast<std::size_t>(MP_NAME_CAP));
            ASSERT_LT(p.second.size(), static_cast<std::size_t>(MP_VALUE_CAP));
        }
        Tm_clock_offset = 24 * 3600;
        cgi_free(&params);
        Tm_clock_offset = 0;
    }
}

TEST_F(Multipart, TheEndStepRemovesOwnUploadsAndOthersOverAnHourOld) {
    write_all(dir + "CGI5", "old upload");
    write_all(dir + "CGI77", "another");
    write_all(dir + "chatdata.dat", "not an upload");
    Body b;
    b.field("a", "1");
    b.file("OWN", "own.gif", "own");
    b.file("MOVED", "moved.gif", "moved");
    read(b.close());
    const std::string own = upload_path(value_of("OWN"), "own.gif", dir);
    const std::string moved = upload_path(value_of("MOVED"), "moved.gif", dir);
    // A handler moved this upload away and another request made a file of the
    // same name; the moved file stays alive, so the new one has another inode.
    ASSERT_EQ(std::rename(moved.c_str(), (dir + "kept.gif").c_str()), 0);
    write_all(moved, "another request's");

    // An hour less a minute later: only this request's own upload goes, the
    // list is released.
    Tm_clock_offset = 59 * 60;
    cgi_free(&params);
    EXPECT_TRUE(pairs().empty());
    EXPECT_EQ(params.cur, nullptr);
    EXPECT_FALSE(exists(own));
    EXPECT_EQ(read_all(moved), "another request's");
    EXPECT_EQ(read_all(dir + "kept.gif"), "moved");
    EXPECT_EQ(read_all(dir + "CGI5"), "old upload");
    EXPECT_EQ(read_all(dir + "CGI77"), "another");

    // An hour and a minute later: a request without a multipart body (a
    // reload) leaves them; the next uploading request removes them, and other
    // files stay.
    Tm_clock_offset = 61 * 60;
    cgi_free(&params);
    EXPECT_TRUE(exists(dir + "CGI5"));
    Body next;
    next.field("a", "2");
    read(next.close());
    cgi_free(&params);
    EXPECT_FALSE(exists(dir + "CGI5"));
    EXPECT_FALSE(exists(dir + "CGI77"));
    EXPECT_FALSE(exists(moved));
    EXPECT_EQ(names_in(dir), (std::set<std::string>{"chatdata.dat", "kept.gif"}));
}

TEST_F(Multipart, TheEndStepForgetsThisRequestsUploads) {
    Body b;
    b.file("BG1", "a.gif", "data");
    read(b.close());
    const std::string path = upload_path(value_of("BG1"), "a.gif", dir);
    ASSERT_TRUE(cgi_is_own_upload(&params, path.c_str()));
    cgi_free(&params);
    EXPECT_FALSE(cgi_is_own_upload(&params, path.c_str()));
    EXPECT_FALSE(exists(path));
}

// The real entry: environment variables and the body on standard input.
class MultipartStdin : public Multipart {
protected:
    std::string body_path;
    void SetUp() override {
        Multipart::SetUp();
        body_path = dir + "body.in";
    }
    void TearDown() override {
        unsetenv("REQUEST_METHOD");
        unsetenv("CONTENT_LENGTH");
        unsetenv("CONTENT_TYPE");
        Multipart::TearDown();
    }
    int post(const std::string& body, uint32_t max_length, const std::string& length = "") {
        write_all(body_path, body);
        EXPECT_NE(std::freopen(body_path.c_str(), "rb", stdin), nullptr);
        setenv("REQUEST_METHOD", "POST", 1);
        setenv("CONTENT_LENGTH", (length.empty() ? std::to_string(body.size()) : length).c_str(), 1);
        setenv("CONTENT_TYPE", type_with(BOUNDARY).c_str(), 1);
        int r = cgi_get(&params, max_length, dir.c_str());
        std::remove(body_path.c_str());
        return r;
    }
};

TEST_F(MultipartStdin, ALargeUploadComesThroughStandardInput) {
    std::string content = bytes_with_zeros(200003, 99);
    Body b;
    b.field("CTALK", "\x95\x5C");
    b.file("BG1", "big.bin", content);
    b.field("JOB", "CWRITE");
    EXPECT_EQ(post(b.close(), 1000000), 0);
    EXPECT_EQ(value_of("CTALK"), "\x95\x5C");
    EXPECT_EQ(value_of("JOB"), "CWRITE");
    EXPECT_TRUE(read_all(upload_path(value_of("BG1"), "big.bin", dir)) == content);
}

TEST_F(MultipartStdin, OverTheLimitTheTextIsReadAndTheUploadDropped) {
    Body b;
    b.file("BG1", "big.bin", std::string(4000, 'b'));
    b.field("JOB", "SET_CONFIGWR");
    EXPECT_EQ(post(b.close(), 1000), -2);
    EXPECT_EQ(value_of("JOB"), "SET_CONFIGWR");
    EXPECT_EQ(value_of("BG1"), "");
    EXPECT_EQ(names_in(dir), std::set<std::string>{});
}

TEST_F(MultipartStdin, ABodyShorterThanAnnouncedEndsTheReading) {
    Body b;
    b.field("A", "1");
    std::string body = b.text + "--" + BOUNDARY +
                       "\r\nContent-Disposition: form-data; name=\"F\"; filename=\"f\"\r\n\r\n" +
                       std::string(100, 'f');
    EXPECT_EQ(post(body, 10000000, std::to_string(body.size() + 5000)), CGI_CUT);
    EXPECT_EQ(value_of("A"), "1");
    upload_path(value_of("F"), "f", dir);
    EXPECT_EQ(params.input_byte, body.size());
}

}  // namespace
