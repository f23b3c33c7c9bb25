// Tests of the file access layer: path conversion, creation bits, removal by
// age under a shifted program clock, name patterns and the directory search.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "store/cust.h"
#include "store/datetime.h"
#include "tests/unit/store_tmpdir.h"

namespace {

using store_test::Buf;
using store_test::exists;
using store_test::mode_of;
using store_test::read_all;
using store_test::write_all;

class CuFiles : public store_test::TmpDirTest {};

std::vector<std::string> split_commas(const std::string& s) {
    std::vector<std::string> v;
    if (s.empty()) return v;
    std::stringstream in(s);
    std::string item;
    while (std::getline(in, item, ',')) v.push_back(item);
    return v;
}

TEST(CuPath, ConvertsFreeStandingBackslashesInPlace) {
    char p[64] = "data\\12\\dir.cnf";
    Cu_platform_path(p);
    EXPECT_STREQ(p, "data/12/dir.cnf");
    Cu_platform_path(p);  // a converted path stays as it is
    EXPECT_STREQ(p, "data/12/dir.cnf");

    char q[64] = "d\\\x95\x5C\\x\\\\y";
    Cu_platform_path(q);
    EXPECT_STREQ(q, "d/\x95\x5C/x//y");
}

TEST_F(CuFiles, OpensConvertedPathAndLeavesItInTheBuffer) {
    ASSERT_EQ(mkdir(at("12").c_str(), 0700), 0);
    write_all(at("12/dir.cnf"), "TITLEPIC,a.gif,\n");
    Buf p(dir + "\\12\\dir.cnf");
    int fd = Cu_b_open(p, 0);
    ASSERT_NE(fd, -1);
    char buf[32] = {0};
    EXPECT_EQ(Cu_b_read(fd, buf, 8), 8);
    EXPECT_EQ(std::string(buf), "TITLEPIC");
    EXPECT_EQ(Cu_b_close(fd), 0);
    EXPECT_STREQ(p.b, at("12/dir.cnf").c_str());
}

TEST_F(CuFiles, KeepsTheSecondByte5COfADoubleByteDirectoryName) {
    const std::string hyo = "\x95\x5C";
    ASSERT_EQ(mkdir(at(hyo).c_str(), 0700), 0);
    Buf p(dir + "\\" + hyo + "\\info.txt");
    int fd = Cu_b_open(p, 1);
    ASSERT_NE(fd, -1);
    Cu_b_close(fd);
    EXPECT_TRUE(exists(at(hyo + "/info.txt")));
    EXPECT_FALSE(exists(at("\x95")));  // the 0x5C did not split the name
}

TEST_F(CuFiles, OpenModesCreateOnlyWhenAskedWith0600AndNeverTruncate) {
    mode_t old = umask(0);
    Buf missing(at("new.dat"));
    EXPECT_EQ(Cu_b_open(missing, 0), -1);
    EXPECT_FALSE(exists(at("new.dat")));

    int fd = Cu_b_open(missing, 1);
    umask(old);
    ASSERT_NE(fd, -1);
    Cu_b_close(fd);
    EXPECT_EQ(mode_of(at("new.dat")), 0600u);
    EXPECT_EQ(read_all(at("new.dat")), "");

    write_all(at("old.dat"), "content");
    for (int mode : {0, 1}) {
        Buf p(at("old.dat"));
        fd = Cu_b_open(p, mode);
        ASSERT_NE(fd, -1);
        EXPECT_EQ(Cu_b_lseek(fd, 0, SEEK_CUR), 0);
        Cu_b_close(fd);
        EXPECT_EQ(read_all(at("old.dat")), "content");
    }
}

TEST_F(CuFiles, ExclusiveCreateFailsOnAnExistingFile) {
    mode_t old = umask(0);
    Buf p(at("x.chk"));
    int fd = Cu_b_open_excl(p);
    umask(old);
    ASSERT_NE(fd, -1);
    Cu_b_close(fd);
    EXPECT_EQ(mode_of(at("x.chk")), 0600u);
    Buf again(at("x.chk"));
    EXPECT_EQ(Cu_b_open_excl(again), -1);
}

TEST_F(CuFiles, StreamsRemoveRenameAndLength) {
    Buf p(dir + "\\a.txt");
    FILE* f = Cu_fopen(p, "w+");
    ASSERT_NE(f, nullptr);
    std::fputs("hello\n", f);
    EXPECT_EQ(std::fseek(f, 0, SEEK_SET), 0);
    char line[16];
    ASSERT_NE(std::fgets(line, sizeof line, f), nullptr);
    EXPECT_STREQ(line, "hello\n");
    EXPECT_EQ(Cu_fclose(f), 0);
    Buf r(dir + "\\nothere.txt");
    EXPECT_EQ(Cu_fopen(r, "r"), nullptr);

    Buf len(dir + "\\a.txt");
    EXPECT_EQ(Cu_get_filelength(len), 6);
    Buf nolen(dir + "\\none");
    EXPECT_EQ(Cu_get_filelength(nolen), -1);

    write_all(at("b.txt"), "old");
    Buf from(dir + "\\a.txt"), to(dir + "\\b.txt");
    EXPECT_EQ(Cu_replace(from, to), 0);  // replaces the existing file
    EXPECT_EQ(read_all(at("b.txt")), "hello\n");
    EXPECT_FALSE(exists(at("a.txt")));
    Buf from2(dir + "\\a.txt"), to2(dir + "\\c.txt");
    EXPECT_EQ(Cu_replace(from2, to2), -1);

    Buf rm(dir + "\\b.txt");
    EXPECT_EQ(Cu_remove(rm), 0);
    Buf rm2(dir + "\\b.txt");
    EXPECT_EQ(Cu_remove(rm2), -1);
}

TEST_F(CuFiles, ReadAllTakesTheWholeFileOrNothing) {
    const std::string bytes = std::string("a,b\r\n\x95\x5C\0tail", 11) + std::string(70000, 'x');
    write_all(at("whole.txt"), bytes);
    std::string got = "old";
    Buf p(dir + "\\whole.txt");
    EXPECT_TRUE(Cu_read_all(p, &got));
    EXPECT_EQ(got, bytes);
    write_all(at("empty.txt"), "");
    Buf e(dir + "\\empty.txt");
    EXPECT_TRUE(Cu_read_all(e, &got));
    EXPECT_EQ(got, "");
    got = "old";
    Buf none(dir + "\\none.txt");
    EXPECT_FALSE(Cu_read_all(none, &got));
    EXPECT_EQ(got, "");
    Buf d(dir);  // a directory opens, but cannot be read
    EXPECT_FALSE(Cu_read_all(d, &got));
}

TEST_F(CuFiles, MkdirMakesOneLevelAndLeavesWhatExists) {
    mode_t old = umask(0);
    Buf d(dir + "\\12");
    Cu_mkdir(d);
    EXPECT_EQ(mode_of(at("12")), 0700u);  // owner only, whatever the umask allows
    umask(old);
    write_all(at("12/keep"), "x");
    Buf again(dir + "\\12");
    Cu_mkdir(again);
    EXPECT_EQ(read_all(at("12/keep")), "x");

    write_all(at("file"), "f");
    Buf onfile(dir + "\\file");
    Cu_mkdir(onfile);
    EXPECT_EQ(read_all(at("file")), "f");

    Buf deep(dir + "\\a\\b");  // one level only: a is missing
    Cu_mkdir(deep);
    EXPECT_FALSE(exists(at("a")));
}

TEST_F(CuFiles, ChmodTakesOctalTextAndNoShell) {
    // A name full of shell syntax: with a shell it would run the command.
    const std::string evil = "p;touch INJECTED;$(touch INJ2).gif";
    write_all(at(evil), "gif");
    chmod(at(evil).c_str(), 0600);
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(dir.c_str()), 0);
    Buf p(evil);
    Cu_chmod(p, "777");
    Buf q(evil);
    Cu_chmod(q, "u+x");  // not octal: nothing changes
    Buf r(evil);
    Cu_chmod(r, "");
    ASSERT_EQ(chdir(cwd), 0);
    EXPECT_EQ(mode_of(at(evil)), 0777u);
    EXPECT_FALSE(exists(at("INJECTED")));
    EXPECT_FALSE(exists(at("INJ2")));

    Buf s(dir + "\\" + evil);
    Cu_chmod(s, "640");
    EXPECT_EQ(mode_of(at(evil)), 0640u);
}

TEST_F(CuFiles, RemovesOnlyFilesOlderThanTheAgeOnTheProgramClock) {
    write_all(at("CGI1"), "x");
    Tm_clock_offset = 30;  // written 30 seconds ago
    Buf p1(dir + "\\CGI1");
    EXPECT_EQ(Cu_removefile1h(p1, 1), 0);
    EXPECT_TRUE(exists(at("CGI1")));

    Tm_clock_offset = 120;  // written 2 minutes ago
    Buf p2(dir + "\\CGI1");
    EXPECT_EQ(Cu_removefile1h(p2, 1), 0);
    EXPECT_FALSE(exists(at("CGI1")));

    Buf p3(dir + "\\CGI1");
    EXPECT_EQ(Cu_removefile1h(p3, 1), -1);

    write_all(at("CGI2"), "x");
    Tm_clock_offset = 59 * 60;  // an hour's limit keeps a 59-minute-old file
    Buf p4(dir + "\\CGI2");
    EXPECT_EQ(Cu_removefile1h(p4, 60), 0);
    EXPECT_TRUE(exists(at("CGI2")));
    Tm_clock_offset = 61 * 60;
    Buf p5(dir + "\\CGI2");
    EXPECT_EQ(Cu_removefile1h(p5, 60), 0);
    EXPECT_FALSE(exists(at("CGI2")));
}

TEST(CuCheckName, PatternsAgainstCGI12) {
    EXPECT_EQ(check_name("CGI*", "CGI12"), 0);
    EXPECT_EQ(check_name("*12", "CGI12"), 0);
    EXPECT_EQ(check_name("*GI1*", "CGI12"), 0);
    EXPECT_EQ(check_name("CGI12", "CGI12"), 0);
    EXPECT_EQ(check_name("*CGI12", "CGI12"), -1);
    EXPECT_EQ(check_name("C*2", "CGI12"), -1);
    EXPECT_EQ(check_name("CGI12*", "CGI12"), 0);
    EXPECT_EQ(check_name("*CGI12*", "CGI12"), 0);
    EXPECT_EQ(check_name("*", "CGI12"), -1);
    EXPECT_EQ(check_name("cgi*", "CGI12"), -1);
    EXPECT_EQ(check_name("CGI", "CGI12"), -1);
    EXPECT_EQ(check_name("CGI123*", "CGI12"), -1);
    // Stars between the first and the last are ordinary characters.
    EXPECT_EQ(check_name("*G*1*", "CG*12"), 0);
    EXPECT_EQ(check_name("*G*1*", "CGI12"), -1);
}

TEST(CuEditPath, JoinsWithOneSlash) {
    char out[64];
    editpath("CGI0", "/var/data", out);
    EXPECT_STREQ(out, "/var/data/CGI0");
    editpath("CGI0", "/var/data/", out);
    EXPECT_STREQ(out, "/var/data/CGI0");
}

TEST_F(CuFiles, FilefindListsMatchingNames) {
    write_all(at("CGI0"), "");
    write_all(at("CGI7"), "");
    write_all(at("dir.cnf"), "");
    ASSERT_EQ(mkdir(at("CGIdir").c_str(), 0700), 0);  // directories match like files

    char buf[1000];
    G_set(buf, (dir + "\\CGI*").c_str());
    Cu_filefind(buf);
    std::vector<std::string> names = split_commas(buf);
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()),
              (std::set<std::string>{"CGI0", "CGI7", "CGIdir"}));
    EXPECT_EQ(names.size(), 3u);

    G_set(buf, (dir + "/*.cnf").c_str());
    Cu_filefind(buf);
    EXPECT_STREQ(buf, "dir.cnf");

    G_set(buf, (dir + "/nothing*").c_str());
    Cu_filefind(buf);
    EXPECT_STREQ(buf, "");

    G_set(buf, (dir + "/missing/CGI*").c_str());
    Cu_filefind(buf);
    EXPECT_STREQ(buf, "");
}

TEST_F(CuFiles, FilefindWithoutDirectorySearchesTheWorkingDirectory) {
    write_all(at("CGI3"), "");
    write_all(at("other"), "");
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(dir.c_str()), 0);
    char buf[1000] = "CGI*";
    Cu_filefind(buf);
    ASSERT_EQ(chdir(cwd), 0);
    EXPECT_STREQ(buf, "CGI3");
}

TEST_F(CuFiles, FilefindResultStaysWithin999Characters) {
    // 120 names of 20 characters: 47 of them (47*21-1 = 986 characters) fit.
    for (int i = 0; i < 120; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "CGI%017d", i);
        write_all(at(name), "");
    }
    std::vector<char> buf(1000, '\x7F');
    G_set(buf.data(), buf.size(), (dir + "/CGI*").c_str());
    Cu_filefind(buf.data());
    const std::string result(buf.data());
    EXPECT_LE(result.size(), 999u);
    std::vector<std::string> names = split_commas(result);
    EXPECT_EQ(names.size(), 47u);
    for (const std::string& n : names) EXPECT_TRUE(exists(at(n))) << n;
}

}  // namespace
