// Unit tests of the live view's cursors and the reads by them, against a real
// message file that posts, trims and clears change between a page's calls.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "chat/chatdata.h"
#include "live/cursor.h"
#include "store/fileio.h"
#include "store_tmpdir.h"

namespace {

using store_test::exists;
using store_test::read_all;
using store_test::write_all;

const int ROOM = 7;
const char STAMP[] = "2024/05/06 10:00";
// Shift_JIS with 0x5C second bytes, a comma, &, quotes.
const char AWKWARD[] = "\x95\x5C\x83\x5C, \"&\" 'x'";

class LiveCursor : public store_test::TmpDirTest {
protected:
    std::string room;
    int posted = 0;
    CHAT_DATA_DAT buf[LIVE_LINES_MAX];

    void SetUp() override {
        TmpDirTest::SetUp();
        room = at(std::to_string(ROOM)) + "/";
        ASSERT_EQ(mkdir(room.c_str(), 0700), 0);
    }
    std::string data() const { return room + "chatdata.dat"; }

    // Posts line number ++posted ("L<n>", awkward bytes behind), or the given
    // text when there is one.
    void post(const std::string& text = "") {
        ++posted;
        const std::string t = text.empty() ? "L" + std::to_string(posted) + " " + AWKWARD : text;
        ASSERT_EQ(Fio_CHAT_DATA_post(ROOM, 1, "taro", "\x83\x5C\x83\x93", STAMP, "red", t.c_str()), 0);
    }
    void post_many(int n) {
        for (int k = 0; k < n; ++k) post();
    }
    // What velt-admin trim-history does: the newest k records replace the file whole.
    void trim(long keep) {
        const std::string bytes = read_all(data());
        write_all(data() + ".new", bytes.substr(0, keep * sizeof(CHAT_DATA_DAT)));
        ASSERT_EQ(std::rename((data() + ".new").c_str(), data().c_str()), 0);
    }
    void clear() { ASSERT_EQ(std::remove(data().c_str()), 0); }

    LIVE_LINES answer() {
        LIVE_LINES a;
        std::memset(&a, 0, sizeof a);
        a.lines = buf;
        return a;
    }
};

std::string label(const CHAT_DATA_DAT& r) {
    const std::string t = r.CTALK;
    return t.substr(0, t.find(' '));
}

std::vector<std::string> labels(const LIVE_LINES& a) {
    std::vector<std::string> out;
    for (int n = 0; n < a.count; ++n) out.push_back(label(a.lines[n]));
    return out;
}

std::vector<std::string> range(int from, int to) {  // "L<from>" .. "L<to>"
    std::vector<std::string> out;
    for (int n = from; n <= to; ++n) out.push_back("L" + std::to_string(n));
    return out;
}

// A page of the live view: what it shows, and the cursors it holds.
struct Page {
    std::vector<std::string> shown;
    std::string cursor, oldest;
    int resets = 0;
};

void take_fresh(Page* p, const LIVE_LINES& a) {
    p->shown = labels(a);
    p->cursor = a.cursor;
    p->oldest = a.oldest;
}

// --- the text of a cursor ------------------------------------------------------

TEST(LiveCursorText, FormatAndParseRoundTrip) {
    const struct {
        LIVE_CURSOR c;
        const char* text;
    } cases[] = {
        {{0, 0}, "0.0000000000000000"},
        {{1, 0xab}, "1.00000000000000ab"},
        {{408, 0x0123456789abcdefULL}, "408.0123456789abcdef"},
        {{9999999999LL, 0xffffffffffffffffULL}, "9999999999.ffffffffffffffff"},
    };
    for (const auto& k : cases) {
        char text[LIVE_CURSOR_CAP];
        live_cursor_format(k.c, text);
        EXPECT_STREQ(text, k.text);
        LIVE_CURSOR back{-1, 1};
        ASSERT_EQ(live_cursor_parse(text, &back), FIO_OK) << text;
        EXPECT_EQ(back.q, k.c.q);
        EXPECT_EQ(back.d, k.c.d);
    }
    LIVE_CURSOR none{5, 5};
    EXPECT_EQ(live_cursor_parse("", &none), LIVE_NONE);
    EXPECT_EQ(none.q, 0);
}

TEST_F(LiveCursor, MalformedCursorsAreRefused) {
    post();
    const char* cases[] = {
        "0",                             // no digest
        ".0000000000000000",             // no count
        "1.",                            // empty digest
        "1.000000000000000",             // 15 digits
        "1.00000000000000000",           // 17 digits
        "01.0000000000000000",           // leading zero
        "00.0000000000000000",           //
        "1.000000000000000A",            // upper case
        "12345678901.0000000000000000",  // 11 digits of count
        "-1.0000000000000000",           //
        "+1.0000000000000000",           //
        " 1.0000000000000000",           //
        "1.0000000000000000 ",           //
        "1.0000000000000000\n",          //
        "1;0000000000000000",            //
        "1.0000000000000000.1",          //
        "0.0000000000000001",            // an empty room with a digest
        "1.00000000000000g0",            //
        "\x95\x5C.0000000000000000",     //
    };
    for (const char* text : cases) {
        LIVE_CURSOR c;
        EXPECT_EQ(live_cursor_parse(text, &c), LIVE_BAD_CURSOR) << text;
        LIVE_LINES a = answer();
        EXPECT_EQ(live_newer(ROOM, text, 10, &a), LIVE_BAD_CURSOR) << text;
        EXPECT_EQ(live_older(ROOM, text, 10, &a), LIVE_BAD_CURSOR) << text;
    }
}

// --- the ranged read of the message file -----------------------------------------

TEST_F(LiveCursor, RangedReadCountsWholeRecordsAndNeverCreatesTheFile) {
    int got = -1;
    long total = -1;
    EXPECT_EQ(Fio_CHAT_DATA_range(ROOM, 0, 10, buf, &got, &total), FIO_OK);
    EXPECT_EQ(got, 0);
    EXPECT_EQ(total, 0);
    EXPECT_FALSE(exists(data()));
    EXPECT_EQ(Fio_CHAT_DATA_range(ROOM + 1, 0, 10, buf, &got, &total), FIO_NO_FILE);  // no such room

    post_many(5);
    // An empty colour reads as blue, an unterminated text is ended in its width,
    // and a trailing piece shorter than a record does not count.
    std::string bytes = read_all(data());
    std::memset(&bytes[132], 0, 22);
    std::memset(&bytes[408 + 154], 'x', 252);
    write_all(data(), bytes + std::string(100, 'z'));
    const struct {
        long first;
        int count, got;
        const char* newest;
    } cases[] = {{0, 2, 2, "L5"}, {3, 10, 2, "L2"}, {4, 1, 1, "L1"}, {5, 3, 0, ""}, {9, 3, 0, ""}, {0, 0, 0, ""}};
    for (const auto& k : cases) {
        ASSERT_EQ(Fio_CHAT_DATA_range(ROOM, k.first, k.count, buf, &got, &total), FIO_OK);
        EXPECT_EQ(total, 5);
        EXPECT_EQ(got, k.got) << k.first;
        if (got > 0) {
            EXPECT_EQ(label(buf[0]), k.newest);
        }
    }
    ASSERT_EQ(Fio_CHAT_DATA_range(ROOM, 0, 2, buf, &got, &total), FIO_OK);
    EXPECT_STREQ(buf[0].COLOR, "blue");
    EXPECT_EQ(std::strlen(buf[1].CTALK), 251u);
}

// --- lines newer than the page's newest ---------------------------------------------

TEST_F(LiveCursor, PollsBetweenPostsGiveEveryNewLineOnce) {
    LIVE_LINES a = answer();
    ASSERT_EQ(live_newest(ROOM, 50, &a), FIO_OK);  // an empty room
    EXPECT_EQ(a.count, 0);
    EXPECT_STREQ(a.cursor, "0.0000000000000000");
    Page page;
    take_fresh(&page, a);
    for (int burst : {3, 2, 0, 1, 0, 4}) {
        post_many(burst);
        ASSERT_EQ(live_newer(ROOM, page.cursor.c_str(), 50, &a), FIO_OK);
        EXPECT_FALSE(a.reset);
        const std::vector<std::string> got = labels(a);
        page.shown.insert(page.shown.end(), got.begin(), got.end());
        if (burst == 0) {
            EXPECT_EQ(a.cursor, page.cursor);  // nothing new: the same cursor
        }
        page.cursor = a.cursor;
    }
    EXPECT_EQ(page.shown, range(1, posted));
}

TEST_F(LiveCursor, ManyNewLinesComeInChunksOldestFirstWithoutASkip) {
    post();
    LIVE_LINES a = answer();
    ASSERT_EQ(live_newest(ROOM, 50, &a), FIO_OK);
    Page page;
    take_fresh(&page, a);
    post_many(230);
    std::vector<int> sizes;
    for (int n = 0; n < 6; ++n) {
        ASSERT_EQ(live_newer(ROOM, page.cursor.c_str(), 100, &a), FIO_OK);
        sizes.push_back(a.count);
        const std::vector<std::string> got = labels(a);
        page.shown.insert(page.shown.end(), got.begin(), got.end());
        page.cursor = a.cursor;
        if (n == 1) post_many(5);  // more arrive while the page catches up
    }
    EXPECT_EQ(sizes, (std::vector<int>{100, 100, 35, 0, 0, 0}));
    EXPECT_EQ(page.shown, range(1, posted));
}

TEST_F(LiveCursor, IdenticalLinesAreNeitherSkippedNorRepeated) {
    // The same user, name, minute, colour and text five times in a row, the
    // page's cursor on the second; then one at a time.
    post("same");
    post("same");
    LIVE_LINES a = answer();
    ASSERT_EQ(live_newest(ROOM, 50, &a), FIO_OK);
    ASSERT_EQ(a.count, 2);
    std::string cursor = a.cursor;
    post("same");
    post("same");
    post("same");
    int received = 0;
    for (int n = 0; n < 5; ++n) {
        ASSERT_EQ(live_newer(ROOM, cursor.c_str(), 1, &a), FIO_OK);
        EXPECT_FALSE(a.reset);
        received += a.count;
        cursor = a.cursor;
    }
    EXPECT_EQ(received, 3);

    // History from a cursor on the second of them gives exactly the first.
    ASSERT_EQ(live_newest(ROOM, 4, &a), FIO_OK);
    ASSERT_EQ(live_older(ROOM, a.oldest, 10, &a), FIO_OK);
    EXPECT_EQ(a.count, 1);
    EXPECT_FALSE(a.more);
}

TEST_F(LiveCursor, ATrimKeepsThePageGoingUnlessItCutsThePagesLine) {
    // The page holds lines 1..10 (its line is L10, with L9 and L8 in its
    // window); then posts and a trim in either order.
    const struct {
        int before, keep, after;
        bool reset;
        std::vector<std::string> lines;
    } cases[] = {
        {2, 12, 0, false, {"L11", "L12"}},         // the trim cuts nothing
        {2, 5, 1, false, {"L11", "L12", "L13"}},   // L10's window stays whole
        {0, 8, 3, false, {"L11", "L12", "L13"}},   // T - Q falls short of L10: found further on
        {0, 3, 2, false, {"L11", "L12"}},          //
        {2, 4, 0, true, {"L9", "L10", "L11", "L12"}},  // cuts L8 of the window
        {1, 1, 1, true, {"L11", "L12"}},           // cuts L10 itself
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.keep);
        if (exists(data())) clear();
        posted = 0;
        post_many(10);
        LIVE_LINES a = answer();
        ASSERT_EQ(live_newest(ROOM, 50, &a), FIO_OK);
        const std::string cursor = a.cursor;
        post_many(k.before);
        trim(k.keep);
        post_many(k.after);
        ASSERT_EQ(live_newer(ROOM, cursor.c_str(), 50, &a), FIO_OK);
        EXPECT_EQ(a.reset, k.reset);
        EXPECT_EQ(labels(a), k.lines);
    }
}

TEST_F(LiveCursor, AClearedRoomResetsThePageAndItsNewLinesFollow) {
    post_many(4);
    LIVE_LINES a = answer();
    ASSERT_EQ(live_newest(ROOM, 50, &a), FIO_OK);
    Page page;
    take_fresh(&page, a);
    clear();
    ASSERT_EQ(live_newer(ROOM, page.cursor.c_str(), 50, &a), FIO_OK);
    EXPECT_TRUE(a.reset);
    EXPECT_EQ(a.count, 0);
    EXPECT_FALSE(a.more);
    EXPECT_STREQ(a.cursor, "0.0000000000000000");
    EXPECT_FALSE(exists(data()));  // looking did not bring the file back
    page.cursor = a.cursor;
    post_many(3);
    ASSERT_EQ(live_newer(ROOM, page.cursor.c_str(), 50, &a), FIO_OK);
    EXPECT_FALSE(a.reset);
    EXPECT_EQ(labels(a), range(5, 7));

    // Cleared and posted to again between two polls: a reset to the new lines.
    page.cursor = a.cursor;
    clear();
    post_many(2);
    ASSERT_EQ(live_newer(ROOM, page.cursor.c_str(), 50, &a), FIO_OK);
    EXPECT_TRUE(a.reset);
    EXPECT_EQ(labels(a), range(8, 9));
}

TEST_F(LiveCursor, AForgedOrForeignCursorIsGoneAndAnEmptyOneStartsAfresh) {
    post_many(6);
    LIVE_LINES a = answer();
    const char* forged[] = {"6.0123456789abcdef", "1.fedcba9876543210", "9999999999.0000000000000001"};
    for (const char* c : forged) {
        ASSERT_EQ(live_newer(ROOM, c, 4, &a), FIO_OK) << c;
        EXPECT_TRUE(a.reset);
        EXPECT_EQ(labels(a), range(3, 6));
        EXPECT_TRUE(a.more);
        ASSERT_EQ(live_older(ROOM, c, 4, &a), FIO_OK) << c;
        EXPECT_TRUE(a.reset);
        EXPECT_EQ(a.count, 0);
    }
    ASSERT_EQ(live_newer(ROOM, "", 10, &a), FIO_OK);  // a reloaded page
    EXPECT_TRUE(a.reset);
    EXPECT_EQ(labels(a), range(1, 6));
    EXPECT_FALSE(a.more);
}

// --- lines older than the page's oldest ---------------------------------------------

TEST_F(LiveCursor, PagingBackReachesTheFirstLineWhilePostsGoOn) {
    post_many(23);
    LIVE_LINES a = answer();
    ASSERT_EQ(live_newest(ROOM, 5, &a), FIO_OK);
    EXPECT_TRUE(a.more);
    Page page;
    take_fresh(&page, a);
    for (int n = 0; n < 10 && a.more; ++n) {
        post();  // new lines do not disturb the oldest cursor
        ASSERT_EQ(live_older(ROOM, page.oldest.c_str(), 5, &a), FIO_OK);
        EXPECT_FALSE(a.reset);
        std::vector<std::string> got = labels(a);
        got.insert(got.end(), page.shown.begin(), page.shown.end());
        page.shown = got;
        page.oldest = a.oldest;
    }
    EXPECT_FALSE(a.more);
    EXPECT_EQ(page.shown, range(1, 23));
    ASSERT_EQ(live_older(ROOM, page.oldest.c_str(), 5, &a), FIO_OK);
    EXPECT_EQ(a.count, 0);
    EXPECT_FALSE(a.more);
    EXPECT_FALSE(a.reset);
    EXPECT_EQ(a.oldest, page.oldest);
}

TEST_F(LiveCursor, AnOldestCursorMadeInASmallRoomStillFindsItsLine) {
    // The oldest line's window had no newer records yet; lines posted since
    // join it, and its line is still found.
    post();
    post();
    LIVE_LINES a = answer();
    ASSERT_EQ(live_newest(ROOM, 1, &a), FIO_OK);  // L2, whose window is L2 alone
    EXPECT_TRUE(a.more);
    const std::string oldest = a.oldest;
    post_many(3);
    ASSERT_EQ(live_older(ROOM, oldest.c_str(), 5, &a), FIO_OK);
    EXPECT_FALSE(a.reset);
    EXPECT_EQ(labels(a), range(1, 1));
    EXPECT_FALSE(a.more);
}

}  // namespace
