// The parameter reader: splitting and decoding of query strings and
// URL-encoded bodies, lookup by name and index, and the body reading limits.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "cgi/cgilib61.h"
#include "store/fileio.h"
#include "store/text.h"

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

// The parameters of the request under test. The end step is kept away from
// any real data directory.
CGI_PARAMS params;
const char kDataDir[] = "/nonexistent-velt-unit/";

class CgiTest : public ::testing::Test {
protected:
    void SetUp() override {
        params = CGI_PARAMS{};
        Fio_set_data_dir(kDataDir);
        for (const char* v : {"REQUEST_METHOD", "QUERY_STRING", "CONTENT_LENGTH", "CONTENT_TYPE"}) unsetenv(v);
    }
    void TearDown() override {
        cgi_free(&params);
        if (!stdin_path_.empty()) std::remove(stdin_path_.c_str());
    }

    int get(const std::string& query) {
        setenv("REQUEST_METHOD", "GET", 1);
        setenv("QUERY_STRING", query.c_str(), 1);
        return cgi_get(&params, 10000000, kDataDir);
    }

    // A POST whose standard input holds `body`; length "" leaves
    // CONTENT_LENGTH unset, "auto" gives the body's size.
    int post(const std::string& body, const std::string& length = "auto",
             const char* type = "application/x-www-form-urlencoded", uint32_t limit = 10000000) {
        set_stdin(body);
        setenv("REQUEST_METHOD", "POST", 1);
        if (type) {
            setenv("CONTENT_TYPE", type, 1);
        } else {
            unsetenv("CONTENT_TYPE");
        }
        if (length == "auto") {
            setenv("CONTENT_LENGTH", std::to_string(body.size()).c_str(), 1);
        } else if (!length.empty()) {
            setenv("CONTENT_LENGTH", length.c_str(), 1);
        } else {
            unsetenv("CONTENT_LENGTH");
        }
        return cgi_get(&params, limit, kDataDir);
    }

    void set_stdin(const std::string& bytes) {
        if (stdin_path_.empty()) {
            char path[] = "/tmp/velt-cgi-stdin-XXXXXX";
            const int fd = mkstemp(path);
            ASSERT_GE(fd, 0);
            close(fd);
            stdin_path_ = path;
        }
        FILE* f = std::fopen(stdin_path_.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
        ASSERT_NE(std::freopen(stdin_path_.c_str(), "rb", stdin), nullptr);
    }

    static std::string value(const char* name, int index = 0, int size = 100000) {
        std::vector<char> buf(static_cast<std::size_t>(size), 'Z');
        cgi_getvalue(&params, name, index, buf.data(), size);
        return buf.data();
    }

    // The list in order, as the reader built it.
    static Pairs pairs() {
        Pairs out;
        for (const CGI_PAIR* n = &params.list; n->name; n = n->next) out.emplace_back(n->name, n->value);
        return out;
    }

    std::string stdin_path_;
};

TEST_F(CgiTest, RepeatedNamesAreFoundByIndex) {
    EXPECT_EQ(get("a=1&a=2&b=3"), 0);
    EXPECT_EQ(value("a", 0), "1");
    EXPECT_EQ(value("a", 1), "2");
    EXPECT_EQ(value("a", 2), "");
    EXPECT_EQ(value("b", 0), "3");
    EXPECT_EQ(value("A", 0), "");  // names are case-sensitive
    EXPECT_EQ(value("missing", 0), "");
}

TEST_F(CgiTest, SplittingAtEqualsAndAmpersand) {
    EXPECT_EQ(get("a=b=c&flag&&=v&x=1&"), 0);
    // An empty piece between two "&" is an empty pair; the trailing "&" adds
    // nothing; further "=" belong to the value.
    EXPECT_EQ(pairs(), (Pairs{{"a", "b=c"}, {"flag", ""}, {"", ""}, {"", "v"}, {"x", "1"}}));
}

TEST_F(CgiTest, LeadingAmpersandGivesAnEmptyPair) {
    EXPECT_EQ(get("&a=1"), 0);
    EXPECT_EQ(pairs(), (Pairs{{"", ""}, {"a", "1"}}));
}

TEST_F(CgiTest, RawLeadByteSwallowsTheEqualsSign) {
    // 0xE0 sent raw starts a double-byte character, so the "=" after it is
    // its second byte; sent percent-encoded, the split happens before decoding.
    EXPECT_EQ(get("x\xE0=1&y%E0=2&z=3"), 0);
    EXPECT_EQ(pairs(), (Pairs{{"x\xE0=1", ""}, {"y\xE0", "2"}, {"z", "3"}}));
}

TEST_F(CgiTest, PlusAndPercentDecoding) {
    EXPECT_EQ(get("x=a+b%2Bc&y=%41%62&z=%4a%4A&%6E+m=v"), 0);
    EXPECT_EQ(value("x"), "a b+c");
    EXPECT_EQ(value("y"), "Ab");
    EXPECT_EQ(value("z"), "JJ");
    EXPECT_EQ(value("n m"), "v");  // names are decoded as well
}

TEST_F(CgiTest, UncheckedEscapesDecodeByTheSharedArithmetic) {
    // 'Z' and 'z' both count 35: 35 * 16 + 35 = 595, modulo 256 is 'S'.
    EXPECT_EQ(get("a=%ZZ&b=%zz"), 0);
    EXPECT_EQ(value("a"), "S");
    EXPECT_EQ(value("b"), "S");
}

TEST_F(CgiTest, EscapeCutOffAtTheEndStaysAsItStands) {
    EXPECT_EQ(get("a=%&b=ab%4&c=%41%&d=x%%41&%=1"), 0);
    EXPECT_EQ(value("a"), "%");
    EXPECT_EQ(value("b"), "ab%4");
    EXPECT_EQ(value("c"), "A%");
    EXPECT_EQ(value("%"), "1");
}

TEST_F(CgiTest, EncodedZeroEndsTheText) {
    EXPECT_EQ(get("a=ab%00cd&b=2"), 0);
    EXPECT_EQ(value("a"), "ab");
    EXPECT_EQ(value("b"), "2");
}

TEST_F(CgiTest, ShiftJisAndOtherEncodingsComeOutAsSent) {
    // Percent-encoded Shift_JIS ("hyou" has a backslash as second byte),
    // half-width katakana, a JIS escape sequence and EUC bytes.
    EXPECT_EQ(get("a=%95%5C%8E%A6&b=%B1%B2&c=%1B%24B%24%22%1B%28B&d=%C9%BD"), 0);
    EXPECT_EQ(value("a"), "\x95\x5C\x8E\xA6");
    EXPECT_EQ(value("b"), "\xB1\xB2");
    EXPECT_EQ(value("c"), "\x1B$B$\"\x1B(B");
    EXPECT_EQ(value("d"), "\xC9\xBD");
}

TEST_F(CgiTest, ValueIsCutToTheBuffer) {
    const std::string thirty = "abcdefghijklmnopqrstuvwxyz0123";
    EXPECT_EQ(get("v=" + thirty), 0);
    EXPECT_EQ(value("v", 0, 22), thirty.substr(0, 21));
    EXPECT_EQ(value("v", 0, 31), thirty);
    EXPECT_EQ(value("v", 0, 30), thirty.substr(0, 29));
    EXPECT_EQ(value("v", 0, 1), "");
    // A missing pair empties the buffer.
    EXPECT_EQ(value("none", 0, 22), "");
}

TEST_F(CgiTest, EmptyOrMissingQueryString) {
    EXPECT_EQ(get(""), 0);
    EXPECT_TRUE(pairs().empty());
    cgi_free(&params);
    setenv("REQUEST_METHOD", "GET", 1);
    unsetenv("QUERY_STRING");
    EXPECT_EQ(cgi_get(&params, 100, kDataDir), 0);
    EXPECT_TRUE(pairs().empty());
}

TEST_F(CgiTest, GetIgnoresTheBodyAndPostIgnoresTheQuery) {
    set_stdin("b=2");
    setenv("CONTENT_LENGTH", "3", 1);
    EXPECT_EQ(get("a=1"), 0);
    EXPECT_EQ(pairs(), (Pairs{{"a", "1"}}));
    cgi_free(&params);

    setenv("QUERY_STRING", "a=1", 1);
    EXPECT_EQ(post("b=2"), 0);
    EXPECT_EQ(pairs(), (Pairs{{"b", "2"}}));
}

TEST_F(CgiTest, PostWithoutPositiveLengthReadsNothing) {
    EXPECT_EQ(post("a=1", "0"), -2);
    EXPECT_TRUE(pairs().empty());
    cgi_free(&params);
    EXPECT_EQ(post("a=1", ""), -2);
    EXPECT_TRUE(pairs().empty());
    cgi_free(&params);
    EXPECT_EQ(post("a=1", "-3"), -2);
    EXPECT_TRUE(pairs().empty());
    cgi_free(&params);
    EXPECT_EQ(post("a=1", "abc"), -2);
    EXPECT_TRUE(pairs().empty());
}

TEST_F(CgiTest, LengthIsReadLikeDecimalText) {
    EXPECT_EQ(post("a=123&b=4", " 5xyz"), 0);
    EXPECT_EQ(pairs(), (Pairs{{"a", "123"}}));
}

TEST_F(CgiTest, BodyOverTheLimitIsStillRead) {
    EXPECT_EQ(post("a=123456", "auto", "application/x-www-form-urlencoded", 5), -2);
    EXPECT_EQ(value("a"), "123456");
    cgi_free(&params);
    EXPECT_EQ(post("a=1234", "auto", "application/x-www-form-urlencoded", 6), 0);
    EXPECT_EQ(value("a"), "1234");
}

TEST_F(CgiTest, ABodyShorterThanAnnouncedIsCutAndGivesNoPairs) {
    // The client went away: the part that came is not taken for a form.
    EXPECT_EQ(post("a=1&b=2", "100"), CGI_CUT);
    EXPECT_TRUE(pairs().empty());
    EXPECT_EQ(params.input_byte, 7u);
    cgi_free(&params);
    EXPECT_EQ(post("", "50"), CGI_CUT);
    EXPECT_TRUE(pairs().empty());
    cgi_free(&params);
    EXPECT_EQ(post("a=1&b=2", "8"), CGI_CUT);
    EXPECT_TRUE(pairs().empty());
}

TEST_F(CgiTest, OnlyTheAnnouncedLengthIsRead) {
    EXPECT_EQ(post("a=12345&b=1", "4"), 0);
    EXPECT_EQ(pairs(), (Pairs{{"a", "12"}}));
    EXPECT_EQ(params.content_length, 4u);
}

TEST_F(CgiTest, ABodyOfTheFieldsLimitIsReadWholeAndOneByteMoreNotAtAll) {
    std::string big(CGI_FIELDS_LIMIT - 6, 'x');
    big[12345] = '%';
    big[12346] = '4';
    big[12347] = '1';
    const std::string body = "k=" + big + "&z=9";
    ASSERT_EQ(body.size(), CGI_FIELDS_LIMIT);
    EXPECT_EQ(post(body), 0);
    const std::string v = value("k", 0, 400000);
    ASSERT_EQ(v.size(), big.size() - 2);
    EXPECT_EQ(v[12345], 'A');
    EXPECT_EQ(value("z"), "9");
    cgi_free(&params);

    // Refused by its length alone: nothing is read, whatever the upload limit.
    EXPECT_EQ(post(body + "9"), CGI_TOO_LARGE);
    EXPECT_TRUE(pairs().empty());
    EXPECT_EQ(params.input_byte, 0u);
    EXPECT_EQ(std::fgetc(stdin), 'k');
    cgi_free(&params);
    EXPECT_EQ(post("a=1", "104857600", "application/x-www-form-urlencoded", 4000000000u), CGI_TOO_LARGE);
    EXPECT_EQ(std::fgetc(stdin), 'a');
    cgi_free(&params);

    // A multipart body may be the upload limit larger, and no more.
    const char* mp = "multipart/form-data; boundary=b";
    EXPECT_EQ(post("--b--", std::to_string(1000 + CGI_FIELDS_LIMIT + 1), mp, 1000), CGI_TOO_LARGE);
    EXPECT_EQ(std::fgetc(stdin), '-');
    cgi_free(&params);
    // Up to it the body is read (and is whole at its final boundary).
    const std::string fields = "--b\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n1\r\n--b--";
    EXPECT_EQ(post(fields, std::to_string(1000 + CGI_FIELDS_LIMIT), mp, 1000), CGI_BAD_LENGTH);
    EXPECT_EQ(pairs(), (Pairs{{"a", "1"}}));
}

TEST_F(CgiTest, OtherContentTypesAreNotReadAsUrlEncoded) {
    // A character set parameter fails the exact comparison: the multipart
    // reader gets the body, and "a=1" is no multipart body.
    EXPECT_EQ(post("a=1", "auto", "application/x-www-form-urlencoded; charset=Shift_JIS"), 0);
    EXPECT_TRUE(pairs().empty());
    cgi_free(&params);
    EXPECT_EQ(post("a=1", "auto", nullptr), 0);
    EXPECT_TRUE(pairs().empty());
}

TEST_F(CgiTest, OtherMethodsReadNothing) {
    setenv("QUERY_STRING", "a=1", 1);
    setenv("REQUEST_METHOD", "get", 1);
    EXPECT_EQ(cgi_get(&params, 100, kDataDir), 0);
    EXPECT_TRUE(pairs().empty());
    unsetenv("REQUEST_METHOD");
    EXPECT_EQ(cgi_get(&params, 100, kDataDir), 0);
    EXPECT_TRUE(pairs().empty());
}

TEST_F(CgiTest, SetDataModes) {
    params = CGI_PARAMS{};
    cgi_setdata(&params, "a=%41+b", 1);
    cgi_setdata(&params, "a=%41+b", 2);
    cgi_setdata(&params, "noequals", 2);
    cgi_setdata(&params, "", 2);
    // Mode 1 decodes escapes; the plus sign is turned into a blank before,
    // by the splitter, never here.
    EXPECT_EQ(pairs(), (Pairs{{"a", "A+b"}, {"a", "%41+b"}, {"noequals", ""}, {"", ""}}));
    // The chain ends with an empty node, and cur points at it.
    EXPECT_EQ(params.cur->name, nullptr);
    EXPECT_EQ(params.cur->value, nullptr);
    EXPECT_EQ(params.cur->next, nullptr);
}

TEST_F(CgiTest, ALookupLeavesTheListEndForLaterPairs) {
    ASSERT_EQ(get("a=1&b=2&a=3"), 0);
    char out[22];
    cgi_getvalue(&params, "a", 0, out, sizeof out);
    EXPECT_STREQ(out, "1");
    // A pair added after a lookup goes behind the others; none is overwritten.
    cgi_setdata(&params, "c=4", 2);
    EXPECT_EQ(pairs(), (Pairs{{"a", "1"}, {"b", "2"}, {"a", "3"}, {"c", "4"}}));
    cgi_getvalue(&params, "a", 1, out, sizeof out);
    EXPECT_STREQ(out, "3");
}

TEST_F(CgiTest, DecodeInPlace) {
    char a[] = "%41%42c%";
    cgi_decode(a);
    EXPECT_STREQ(a, "ABc%");
    char b[] = "";
    cgi_decode(b);
    EXPECT_STREQ(b, "");
    char c[] = "%5";
    cgi_decode(c);
    EXPECT_STREQ(c, "%5");
    char d[] = "%95%5C";
    cgi_decode(d);
    EXPECT_STREQ(d, "\x95\x5C");
}

TEST_F(CgiTest, TheNameValueSplitStepsOverDoubleByteCharacters) {
    EXPECT_EQ(G_StrFind("ab=c", "="), 2);
    EXPECT_EQ(G_StrFind("\x95\x5C=x", "="), 2);
    EXPECT_EQ(G_StrFind("\x81=x=", "="), 3);  // the first "=" is a second byte
    EXPECT_EQ(G_StrFind("\x7F=", "="), -1);   // 0x7F counts as a lead byte too
    EXPECT_EQ(G_StrFind("\xA1=", "="), 1);    // half-width katakana is one byte
    EXPECT_EQ(G_StrFind("abc", ","), -1);
    EXPECT_EQ(G_StrFind("", "="), -1);
    EXPECT_EQ(G_StrFind("abc", ""), -1);
}

}  // namespace
