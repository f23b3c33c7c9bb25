// Unit tests of the message file, the presence index and the time-out sweep,
// run under a shifted clock instead of waiting.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "chat/chatdata.h"
#include "chat/chatuser.h"
#include "store/fileio.h"
#include "store_tmpdir.h"

namespace {

// The records the stores read into and write from.
CHAT_DATA_DAT line_rec;
CHAT_DATA_DAT lines_read[CHAT_DATA_READ_MAX];
CHAT_USER_IDX member_rec;
CHAT_USER_IDX members_read[CHAT_USER_BLOCK];

using store_test::exists;
using store_test::read_all;
using store_test::write_all;

const int ROOM = 12;
const char NOTICE[] = "\x83\x5C\x83\x93 left (time-out)";  // Shift_JIS, second byte 0x5C

CHAT_DATA_DAT line(const std::string& user, const std::string& talk, const std::string& color = "red") {
    CHAT_DATA_DAT r;
    std::memset(&r, 0, sizeof r);
    r.FOLDER_NO = ROOM;
    r.MODE = 1;
    G_set(r.USER_ID, user.c_str());
    G_set(r.USER_NAME, ("n-" + user).c_str());
    G_set(r.WRITE_DATE, "2024/05/06 10:00");
    G_set(r.COLOR, color.c_str());
    G_set(r.CTALK, talk.c_str());
    return r;
}

CHAT_USER_IDX member(const std::string& user, const std::string& name, const std::string& last,
                     const std::string& color = "green") {
    CHAT_USER_IDX r;
    std::memset(&r, 0, sizeof r);
    r.FOLDER_NO = ROOM;
    r.MODE = 2;
    G_set(r.USER_ID, user.c_str());
    G_set(r.USER_NAME, name.c_str());
    G_set(r.LAST_DATE, last.c_str());
    G_set(r.COLOR, color.c_str());
    r.DISP_LINE = 40;
    r.RELOAD_TIME = 999;
    return r;
}

template <typename T>
std::string bytes_of(const std::vector<T>& recs) {
    std::string s;
    for (const T& r : recs) s.append(reinterpret_cast<const char*>(&r), sizeof r);
    return s;
}

template <typename T>
std::vector<T> records_in(const std::string& bytes) {
    std::vector<T> out(bytes.size() / sizeof(T));
    if (!out.empty()) std::memcpy(out.data(), bytes.data(), out.size() * sizeof(T));
    return out;
}

class ChatStores : public store_test::TmpDirTest {
protected:
    std::string room;  // the room directory, ending in '/'

    void SetUp() override {
        TmpDirTest::SetUp();
        room = at(std::to_string(ROOM)) + "/";
        ASSERT_EQ(mkdir(room.c_str(), 0700), 0);
        std::memset(&line_rec, 0, sizeof line_rec);
        std::memset(&member_rec, 0, sizeof member_rec);
    }
    std::string data() const { return room + "chatdata.dat"; }
    std::string index() const { return room + "chatuser.idx"; }

    int write_line(const CHAT_DATA_DAT& r) {
        line_rec = r;
        return Fio_CHAT_DATA_DAT(line_rec);
    }
    int user_op(int mode, const CHAT_USER_IDX& r) {
        member_rec = r;
        return Fio_CHAT_USER_IDX(mode, &member_rec);
    }
};

// --- message store ---------------------------------------------------------

TEST_F(ChatStores, TheFirstPostCreatesTheFileWithOneRecordLaidOutExactly) {
    CHAT_DATA_DAT r = line("taro", "hello, \x95\x5C & <b>");
    r.pad_[0] = 'x';  // padding goes to disk as zero whatever the caller left
    r.pad_[1] = 'y';
    EXPECT_EQ(write_line(r), 0);
    std::string bytes = read_all(data());
    ASSERT_EQ(bytes.size(), 408u);
    EXPECT_EQ(bytes.substr(0, 8), std::string("\x0c\0\0\0\x01\0\0\0", 8));
    EXPECT_EQ(std::string(bytes.c_str() + 8), "taro");
    EXPECT_EQ(std::string(bytes.c_str() + 30), "n-taro");
    EXPECT_EQ(std::string(bytes.c_str() + 112), "2024/05/06 10:00");
    EXPECT_EQ(std::string(bytes.c_str() + 132), "red");
    EXPECT_EQ(std::string(bytes.c_str() + 154), "hello, \x95\x5C & <b>");
    EXPECT_EQ(bytes.substr(406, 2), std::string("\0\0", 2));
    EXPECT_FALSE(exists(data() + ".tmp"));
    EXPECT_FALSE(exists(room + "chatdata.chk"));
}

TEST_F(ChatStores, NewRecordsGoInFrontAndAnEmptyColourReadsAsBlue) {
    EXPECT_EQ(write_line(line("a", "first")), 0);
    EXPECT_EQ(write_line(line("b", "second", "")), 0);
    auto stored = records_in<CHAT_DATA_DAT>(read_all(data()));
    ASSERT_EQ(stored.size(), 2u);
    EXPECT_STREQ(stored[0].CTALK, "second");
    EXPECT_STREQ(stored[0].COLOR, "");  // kept empty in the file

    ASSERT_EQ(Fio_CHAT_DATA_DAT100(ROOM, lines_read), 0);
    EXPECT_STREQ(lines_read[0].CTALK, "second");
    EXPECT_STREQ(lines_read[0].COLOR, "blue");
    EXPECT_STREQ(lines_read[1].CTALK, "first");
    EXPECT_STREQ(lines_read[1].COLOR, "red");
    EXPECT_EQ(lines_read[2].MODE, 0);
}

TEST_F(ChatStores, ARecordWithModeZeroIsStoredAsModeOneSoOlderLinesStayVisible) {
    EXPECT_EQ(write_line(line("a", "older")), 0);
    CHAT_DATA_DAT r = line("b", "newer");
    r.MODE = 0;
    EXPECT_EQ(write_line(r), 0);
    ASSERT_EQ(Fio_CHAT_DATA_DAT100(ROOM, lines_read), 0);
    EXPECT_EQ(lines_read[0].MODE, 1);
    EXPECT_STREQ(lines_read[0].CTALK, "newer");
    EXPECT_NE(lines_read[1].MODE, 0);
    EXPECT_STREQ(lines_read[1].CTALK, "older");
}

TEST_F(ChatStores, A150RecordFileReadsAsItsNewest100AndKeepsAll) {
    std::vector<CHAT_DATA_DAT> recs;
    for (int i = 0; i < 150; ++i) recs.push_back(line("u" + std::to_string(i), "talk " + std::to_string(i)));
    write_all(data(), bytes_of(recs));

    ASSERT_EQ(Fio_CHAT_DATA_DAT100(ROOM, lines_read), 0);
    for (int i = 0; i < 100; ++i) ASSERT_STREQ(lines_read[i].CTALK, ("talk " + std::to_string(i)).c_str());
    EXPECT_EQ(read_all(data()).size(), 150u * 408u);

    EXPECT_EQ(write_line(line("new", "newest")), 0);
    auto stored = records_in<CHAT_DATA_DAT>(read_all(data()));
    ASSERT_EQ(stored.size(), 151u);
    EXPECT_STREQ(stored[0].CTALK, "newest");
    EXPECT_STREQ(stored[150].CTALK, "talk 149");
}

TEST_F(ChatStores, ATrailingPartialRecordIsNeverReadAndDroppedByTheNextWrite) {
    std::vector<CHAT_DATA_DAT> recs = {line("a", "one"), line("b", "two"), line("c", "three")};
    CHAT_DATA_DAT junk = line("x", "partial");
    write_all(data(), bytes_of(recs) + std::string(reinterpret_cast<const char*>(&junk), 100));

    ASSERT_EQ(Fio_CHAT_DATA_DAT100(ROOM, lines_read), 0);
    EXPECT_STREQ(lines_read[2].CTALK, "three");
    CHAT_DATA_DAT zero;
    std::memset(&zero, 0, sizeof zero);
    EXPECT_EQ(std::memcmp(&lines_read[3], &zero, sizeof zero), 0);

    EXPECT_EQ(write_line(line("d", "four")), 0);
    std::string bytes = read_all(data());
    ASSERT_EQ(bytes.size(), 4u * 408u);
    EXPECT_EQ(bytes.substr(408), bytes_of(recs));
}

TEST_F(ChatStores, RecordsWithoutTerminatorsReadAsTextsEndedWithinTheirFields) {
    // A damaged file: every byte of the record's texts and padding is 'x', so
    // a text printed as it stands would run past the record (the last slot
    // past the table).
    CHAT_DATA_DAT bad;
    std::memset(&bad, 'x', sizeof bad);
    bad.FOLDER_NO = ROOM;
    bad.MODE = 1;
    std::string bytes;
    for (int i = 0; i < 100; ++i) bytes.append(reinterpret_cast<const char*>(&bad), sizeof bad);
    write_all(data(), bytes);

    ASSERT_EQ(Fio_CHAT_DATA_DAT100(ROOM, lines_read), 0);
    for (int i : {0, 99}) {
        const CHAT_DATA_DAT& r = lines_read[i];
        EXPECT_EQ(std::strlen(r.USER_ID), sizeof r.USER_ID - 1);
        EXPECT_EQ(std::strlen(r.USER_NAME), sizeof r.USER_NAME - 1);
        EXPECT_EQ(std::strlen(r.WRITE_DATE), sizeof r.WRITE_DATE - 1);
        EXPECT_EQ(std::strlen(r.COLOR), sizeof r.COLOR - 1);
        EXPECT_EQ(std::strlen(r.CTALK), sizeof r.CTALK - 1);
        EXPECT_EQ(r.CTALK[0], 'x');
    }
    // The file itself is not repaired by a read.
    EXPECT_EQ(read_all(data()), bytes);
}

TEST_F(ChatStores, ReadingARoomWithoutAFileCreatesItEmpty) {
    std::memset(lines_read, 0x55, sizeof lines_read);
    ASSERT_EQ(Fio_CHAT_DATA_DAT100(ROOM, lines_read), 0);
    EXPECT_TRUE(exists(data()));
    EXPECT_EQ(read_all(data()).size(), 0u);
    for (const auto& r : lines_read) {
        ASSERT_EQ(r.MODE, 0);
        ASSERT_EQ(r.CTALK[0], '\0');
    }
    EXPECT_FALSE(exists(room + "chatdata.chk"));
}

TEST_F(ChatStores, AHeldMessageLockRefusesWritesButNotReads) {
    write_line(line("a", "kept"));
    const std::string before = read_all(data());
    write_all(room + "chatdata.chk", "");
    EXPECT_EQ(write_line(line("b", "lost")), -9);
    EXPECT_EQ(Fio_CHAT_DATA_DAT_DEL(ROOM), -9);
    // A read takes the file as the last post left it.
    EXPECT_EQ(Fio_CHAT_DATA_DAT100(ROOM, lines_read), 0);
    EXPECT_STREQ(lines_read[0].CTALK, "kept");
    EXPECT_EQ(read_all(data()), before);
    EXPECT_TRUE(exists(room + "chatdata.chk"));  // a test never removes a young lock
}

TEST_F(ChatStores, RemovingTheMessageFile) {
    EXPECT_EQ(Fio_CHAT_DATA_DAT_DEL(ROOM), -1);  // nothing to remove
    write_line(line("a", "x"));
    // Somebody has entered since the caller found the room empty.
    user_op(STORE_ADD, member("a", "A", "2024/05/06 10:00"));
    EXPECT_EQ(Fio_CHAT_DATA_DAT_DEL(ROOM), -1);
    EXPECT_TRUE(exists(data()));
    user_op(STORE_DELETE, member("a", "A", ""));
    EXPECT_EQ(Fio_CHAT_DATA_DAT_DEL(ROOM), 0);
    EXPECT_FALSE(exists(room + "chatdata.chk"));
    EXPECT_FALSE(exists(data()));
    EXPECT_EQ(Fio_CHAT_DATA_DAT_DEL(ROOM), -1);
}

TEST_F(ChatStores, AMissingRoomDirectoryGivesMinusTwo) {
    CHAT_DATA_DAT r = line("a", "x");
    r.FOLDER_NO = 99;
    EXPECT_EQ(write_line(r), -2);
    EXPECT_EQ(Fio_CHAT_DATA_DAT100(99, lines_read), -2);
    EXPECT_FALSE(exists(at("99/chatdata.chk")));
    EXPECT_EQ(user_op(STORE_ADD, [] { auto m = member("a", "b", ""); m.FOLDER_NO = 99; return m; }()), -2);
    EXPECT_EQ(Fio_CHAT_USER_IDX20(99, 0, members_read), -2);
}

// --- presence index -----------------------------------------------------------

TEST_F(ChatStores, AddingKeysOnUserIdAndChatName) {
    CHAT_USER_IDX taro = member("taro", "\x95\x5C", "2024/05/06 10:00");
    taro.pad_[0] = 'p';
    EXPECT_EQ(user_op(STORE_ADD, taro), 0);
    std::string bytes = read_all(index());
    ASSERT_EQ(bytes.size(), 164u);
    EXPECT_EQ(bytes.substr(154, 2), std::string("\0\0", 2));
    EXPECT_EQ(bytes.substr(156, 8), std::string("\x28\0\0\0\xe7\x03\0\0", 8));  // 40, 999
    EXPECT_EQ(std::string(bytes.c_str() + 30), "\x95\x5C");

    EXPECT_EQ(user_op(STORE_ADD, member("taro", "\x95\x5C", "2024/05/06 11:00", "red")), -3);
    EXPECT_EQ(read_all(index()), bytes);
    EXPECT_FALSE(exists(index() + ".tmp"));

    EXPECT_EQ(user_op(STORE_ADD, member("taro", "other name", "2024/05/06 10:01")), 0);
    EXPECT_EQ(user_op(STORE_ADD, member("hanako", "\x95\x5C", "2024/05/06 10:02")), 0);
    auto stored = records_in<CHAT_USER_IDX>(read_all(index()));
    ASSERT_EQ(stored.size(), 3u);
    EXPECT_STREQ(stored[1].USER_NAME, "other name");
    EXPECT_STREQ(stored[2].USER_ID, "hanako");
}

TEST_F(ChatStores, ReadingAnAbsentMemberLeavesThePresets) {
    user_op(STORE_ADD, member("taro", "T", "2024/05/06 10:00"));
    CHAT_USER_IDX probe = member("taro", "t", "2024/01/01 00:00", "pink");  // name differs in case
    probe.MODE = 7;
    probe.DISP_LINE = 5;
    probe.RELOAD_TIME = 6;
    EXPECT_EQ(user_op(STORE_READ, probe), -1);
    EXPECT_EQ(member_rec.DISP_LINE, 30);
    EXPECT_EQ(member_rec.RELOAD_TIME, 30);
    EXPECT_EQ(std::string(member_rec.LAST_DATE, sizeof member_rec.LAST_DATE), std::string(20, '\0'));
    EXPECT_EQ(std::string(member_rec.COLOR, sizeof member_rec.COLOR), std::string(22, '\0'));
    EXPECT_STREQ(member_rec.USER_ID, "taro");
    EXPECT_STREQ(member_rec.USER_NAME, "t");
    EXPECT_EQ(member_rec.MODE, 7);
    EXPECT_EQ(member_rec.FOLDER_NO, ROOM);
    EXPECT_FALSE(exists(room + "chatuser.chk"));
}

TEST_F(ChatStores, ReadingAPresentMemberGivesItsRecordWithBlueForNoColour) {
    user_op(STORE_ADD, member("taro", "T", "2024/05/06 10:00", ""));
    EXPECT_EQ(user_op(STORE_READ, member("taro", "T", "")), 0);
    EXPECT_STREQ(member_rec.COLOR, "blue");
    EXPECT_STREQ(member_rec.LAST_DATE, "2024/05/06 10:00");
    EXPECT_EQ(member_rec.DISP_LINE, 40);
    EXPECT_EQ(member_rec.RELOAD_TIME, 999);
    EXPECT_EQ(std::string(read_all(index()).c_str() + 132), "");  // the file keeps it empty
}

TEST_F(ChatStores, UpdateAndDeleteTouchOnlyTheKeyedRecord) {
    user_op(STORE_ADD, member("a", "A", "2024/05/06 10:00"));
    user_op(STORE_ADD, member("b", "B", "2024/05/06 10:00"));
    user_op(STORE_ADD, member("c", "C", "2024/05/06 10:00"));
    const std::string before = read_all(index());

    EXPECT_EQ(user_op(STORE_UPDATE, member("x", "B", "2024/05/06 10:09")), -1);
    EXPECT_EQ(user_op(STORE_DELETE, member("b", "b", "")), -1);
    EXPECT_EQ(read_all(index()), before);
    EXPECT_FALSE(exists(index() + ".tmp"));

    EXPECT_EQ(user_op(STORE_UPDATE, member("b", "B", "2024/05/06 10:09", "navy")), 0);
    auto stored = records_in<CHAT_USER_IDX>(read_all(index()));
    ASSERT_EQ(stored.size(), 3u);
    EXPECT_STREQ(stored[1].LAST_DATE, "2024/05/06 10:09");
    EXPECT_STREQ(stored[1].COLOR, "navy");
    EXPECT_STREQ(stored[2].USER_ID, "c");

    EXPECT_EQ(user_op(STORE_DELETE, member("a", "A", "")), 0);
    stored = records_in<CHAT_USER_IDX>(read_all(index()));
    ASSERT_EQ(stored.size(), 2u);
    EXPECT_STREQ(stored[0].USER_ID, "b");
    EXPECT_FALSE(exists(room + "chatuser.chk"));

    EXPECT_EQ(user_op(9, member("b", "B", "")), FIO_BAD_ARGUMENT);
}

TEST_F(ChatStores, AHeldIndexLockRefusesWritesButNeverHidesAMember) {
    user_op(STORE_ADD, member("a", "A", "2024/05/06 10:00"));
    const std::string before = read_all(index());
    write_all(room + "chatuser.chk", "");
    for (int mode = STORE_ADD; mode <= STORE_UPDATE; ++mode) {
        EXPECT_EQ(user_op(mode, member("z", "Z", "2024/05/06 10:00")), -9) << mode;
    }
    EXPECT_EQ(read_all(index()), before);
    EXPECT_EQ(user_op(STORE_READ, member("a", "A", "")), 0);
    EXPECT_STREQ(member_rec.LAST_DATE, "2024/05/06 10:00");
    EXPECT_EQ(Fio_CHAT_USER_IDX20(ROOM, 0, members_read), 0);
    EXPECT_STREQ(members_read[0].USER_ID, "a");
}

TEST_F(ChatStores, ASignOfLifeIsWrittenInPlaceIntoEveryRecordOfTheMember) {
    user_op(STORE_ADD, member("a", "A", "2024/05/06 10:00"));
    user_op(STORE_ADD, member("b", "B", "2024/05/06 10:00"));
    struct stat before;
    ASSERT_EQ(stat(index().c_str(), &before), 0);
    const std::string old = read_all(index());
    member_rec = member("b", "B", "2024/05/06 10:07");
    EXPECT_EQ(Fio_CHAT_USER_IDX_touch(member_rec), 0);
    std::string expected = old;
    std::memcpy(&expected[164 + 112], "2024/05/06 10:07", 16);
    EXPECT_EQ(read_all(index()), expected);  // only those 16 bytes changed
    struct stat after;
    ASSERT_EQ(stat(index().c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);  // the same file: no rewrite
    EXPECT_FALSE(exists(room + "chatuser.chk"));

    member_rec = member("z", "Z", "2024/05/06 10:07");
    EXPECT_EQ(Fio_CHAT_USER_IDX_touch(member_rec), -1);
    write_all(room + "chatuser.chk", "");
    member_rec = member("a", "A", "2024/05/06 10:08");
    EXPECT_EQ(Fio_CHAT_USER_IDX_touch(member_rec), -9);
    EXPECT_EQ(read_all(index()), expected);
}

TEST_F(ChatStores, ABlockReadSkipsAndFillsTwentySlots) {
    std::vector<CHAT_USER_IDX> recs;
    for (int i = 1; i <= 25; ++i) recs.push_back(member("u" + std::to_string(i), "n", "2024/05/06 10:00", i == 22 ? "" : "red"));
    CHAT_USER_IDX junk = member("partial", "p", "");
    write_all(index(), bytes_of(recs) + std::string(reinterpret_cast<const char*>(&junk), 60));

    ASSERT_EQ(Fio_CHAT_USER_IDX20(ROOM, 20, members_read), 0);
    for (int i = 0; i < 5; ++i) EXPECT_STREQ(members_read[i].USER_ID, ("u" + std::to_string(21 + i)).c_str());
    EXPECT_STREQ(members_read[1].COLOR, "blue");
    CHAT_USER_IDX zero;
    std::memset(&zero, 0, sizeof zero);
    for (int i = 5; i < 20; ++i) EXPECT_EQ(std::memcmp(&members_read[i], &zero, sizeof zero), 0) << i;

    ASSERT_EQ(Fio_CHAT_USER_IDX20(ROOM, 0, members_read), 0);
    EXPECT_STREQ(members_read[0].USER_ID, "u1");
    EXPECT_STREQ(members_read[19].USER_ID, "u20");

    ASSERT_EQ(Fio_CHAT_USER_IDX20(ROOM, 40, members_read), 0);
    EXPECT_EQ(members_read[0].FOLDER_NO, 0);

    // A rewrite drops the trailing piece.
    EXPECT_EQ(user_op(STORE_DELETE, member("u1", "n", "")), 0);
    EXPECT_EQ(read_all(index()).size(), 24u * 164u);
}

// --- time-out sweep -----------------------------------------------------------

class Sweep : public ChatStores {
protected:
    long base = 0;  // clock offset of the start: second 5 of a minute

    void SetUp() override {
        ChatStores::SetUp();
        // The tests compare stamps of whole minutes: start each one early in
        // a minute so that the real clock cannot cross into the next minute.
        // The clock starts a quarter of an hour back, so that the minutes the
        // tests move on never make a lock file just made look a minute old.
        base = 5 - static_cast<long>(time(nullptr) % 60) - 15 * 60;
        Tm_clock_offset = base;
    }
    // The stamp of the program's clock `minutes` later than the start.
    std::string stamp(int minutes) {
        long saved = Tm_clock_offset;
        Tm_clock_offset = base + minutes * 60L;
        char b[20] = "";
        Tm_set_date(b);
        Tm_clock_offset = saved;
        return b;
    }
    int sweep_at(int minutes) {
        Tm_clock_offset = base + minutes * 60L;
        return Fio_CHAT_TIMEOUT_TXT(ROOM, NOTICE);
    }
    std::string chattime() const { return read_all(room + "chattime.txt"); }
    void put_members(const std::vector<CHAT_USER_IDX>& recs) { write_all(index(), bytes_of(recs)); }
};

TEST_F(Sweep, TheFirstRequestOnlyStartsTheClock) {
    put_members({member("old", "O", "2000/01/01 00:00"), member("empty", "E", "")});
    const std::string before = read_all(index());
    EXPECT_EQ(sweep_at(0), 0);
    EXPECT_EQ(chattime(), stamp(0));  // 16 characters, no line end
    EXPECT_EQ(chattime().size(), 16u);
    EXPECT_EQ(read_all(index()), before);
    EXPECT_FALSE(exists(data()));
    EXPECT_FALSE(exists(room + "chatuser.chk"));
}

TEST_F(Sweep, ASecondRequestInTheSameMinuteDoesNotScan) {
    EXPECT_EQ(sweep_at(0), 0);
    put_members({member("old", "O", "2000/01/01 00:00")});
    EXPECT_EQ(sweep_at(0), 0);
    EXPECT_EQ(records_in<CHAT_USER_IDX>(read_all(index())).size(), 1u);

    // The next minute the sweep runs and drops the member.
    EXPECT_EQ(sweep_at(1), 0);
    EXPECT_EQ(read_all(index()).size(), 0u);
    EXPECT_EQ(chattime(), stamp(1));
}

TEST_F(Sweep, AMemberIsKeptFiveMinutesAndDroppedInTheSixth) {
    sweep_at(0);
    CHAT_USER_IDX m = member("taro", "\x95\x5C", stamp(0), "");
    m.MODE = 2;
    put_members({m});

    EXPECT_EQ(sweep_at(5), 0);
    EXPECT_EQ(records_in<CHAT_USER_IDX>(read_all(index())).size(), 1u);
    EXPECT_FALSE(exists(data()));
    EXPECT_EQ(chattime(), stamp(5));

    EXPECT_EQ(sweep_at(6), 0);
    EXPECT_EQ(read_all(index()).size(), 0u);
    auto notices = records_in<CHAT_DATA_DAT>(read_all(data()));
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].FOLDER_NO, ROOM);
    EXPECT_EQ(notices[0].MODE, 2);
    EXPECT_STREQ(notices[0].USER_ID, "taro");
    EXPECT_STREQ(notices[0].USER_NAME, "\x95\x5C");
    EXPECT_STREQ(notices[0].WRITE_DATE, stamp(6).c_str());
    EXPECT_STREQ(notices[0].COLOR, "");
    EXPECT_STREQ(notices[0].CTALK, NOTICE);
    EXPECT_EQ(chattime(), stamp(6));
    EXPECT_FALSE(exists(room + "chatuser.chk"));
    EXPECT_FALSE(exists(room + "chatdata.chk"));
}

TEST_F(Sweep, ThreeMembersDroppedInOneSweepPostThreeNoticesInOrder) {
    sweep_at(0);
    put_members({member("a", "A", stamp(0)), member("live", "L", stamp(9)), member("b", "B", ""),
                 member("c", "C", stamp(2))});
    EXPECT_EQ(sweep_at(10), 0);

    auto left = records_in<CHAT_USER_IDX>(read_all(index()));
    ASSERT_EQ(left.size(), 1u);
    EXPECT_STREQ(left[0].USER_ID, "live");

    ASSERT_EQ(Fio_CHAT_DATA_DAT100(ROOM, lines_read), 0);
    EXPECT_STREQ(lines_read[0].USER_ID, "c");  // dropped last, shown first
    EXPECT_STREQ(lines_read[1].USER_ID, "b");
    EXPECT_STREQ(lines_read[2].USER_ID, "a");
    EXPECT_EQ(lines_read[3].MODE, 0);
    for (int i = 0; i < 3; ++i) EXPECT_STREQ(lines_read[i].CTALK, NOTICE);
}

TEST_F(Sweep, ASignOfLifeMoreThanTenMinutesAheadTimesOut) {
    struct Case {
        const char* user;
        int ahead;  // minutes the stamp lies ahead of the sweep's clock
        bool kept;
    };
    const Case cases[] = {{"ahead11", 11, false}, {"ahead10", 10, true}, {"ahead9", 9, true}};
    sweep_at(0);
    std::vector<CHAT_USER_IDX> recs;
    for (const Case& c : cases) recs.push_back(member(c.user, "\x95\x5C,&\"", stamp(1 + c.ahead)));
    put_members(recs);
    EXPECT_EQ(sweep_at(1), 0);

    std::vector<std::string> left, noticed;
    for (const CHAT_USER_IDX& r : records_in<CHAT_USER_IDX>(read_all(index()))) left.push_back(r.USER_ID);
    for (const CHAT_DATA_DAT& r : records_in<CHAT_DATA_DAT>(read_all(data()))) {
        EXPECT_STREQ(r.CTALK, NOTICE);
        EXPECT_STREQ(r.WRITE_DATE, stamp(1).c_str());
        noticed.push_back(r.USER_ID);
    }
    std::vector<std::string> kept, dropped;
    for (const Case& c : cases) (c.kept ? kept : dropped).push_back(c.user);
    EXPECT_EQ(left, kept);
    EXPECT_EQ(noticed, dropped);
}

TEST_F(Sweep, AnEmptyStampFileCountsAsAnotherMinute) {
    write_all(room + "chattime.txt", "");
    put_members({member("old", "O", "2000/01/01 00:00")});
    EXPECT_EQ(sweep_at(0), 0);
    EXPECT_EQ(read_all(index()).size(), 0u);
    EXPECT_EQ(chattime(), stamp(0));
}

TEST_F(Sweep, AHeldIndexLockLeavesEverythingForTheNextRequest) {
    // Another program's lock file made now must look neither a minute old nor
    // more than a minute ahead at minute 1: this test's clock starts one
    // minute back (at second 5 of a minute), not a quarter of an hour.
    base = 5 - static_cast<long>(time(nullptr) % 60) - 60;
    sweep_at(0);
    put_members({member("old", "O", "2000/01/01 00:00")});
    const std::string before = read_all(index());
    write_all(room + "chatuser.chk", "");
    EXPECT_EQ(sweep_at(1), -9);
    EXPECT_EQ(read_all(index()), before);
    EXPECT_EQ(chattime(), stamp(0));
    EXPECT_FALSE(exists(data()));

    std::remove((room + "chatuser.chk").c_str());
    EXPECT_EQ(sweep_at(1), 0);
    EXPECT_EQ(read_all(index()).size(), 0u);
}

TEST_F(Sweep, AFailedRemovalPostsNoNoticeAndDoesNotLoop) {
    sweep_at(0);
    put_members({member("old", "O", "2000/01/01 00:00"), member("live", "L", stamp(3))});
    const std::string before = read_all(index());
    // The disk is full: the rewrite cannot write the member who stays.
    {
        store_test::FileSizeLimit limit(100);
        EXPECT_EQ(sweep_at(4), -2);
    }
    EXPECT_EQ(read_all(index()), before);
    EXPECT_FALSE(exists(data()));
    EXPECT_FALSE(exists(room + "chatuser.chk"));
    // The run is over for this minute: the next request does not retry it.
    EXPECT_EQ(chattime(), stamp(4));
    EXPECT_EQ(sweep_at(4), 0);
    EXPECT_FALSE(exists(data()));
}

TEST_F(Sweep, AMissingRoomGivesMinusTwo) {
    EXPECT_EQ(Fio_CHAT_TIMEOUT_TXT(98, NOTICE), -2);
    EXPECT_FALSE(exists(at("98")));
}

}  // namespace
