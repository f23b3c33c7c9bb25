// The access stores (session keys, access lists, group memberships), the
// folder access check and the login gate, on a temporary data directory.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>
#include <set>
#include <string>
#include <sys/stat.h>

#include "access/acl.h"
#include "access/acl_mst.h"
#include "access/login.h"
#include "access/skey_mst.h"
#include "access/user_g_mst.h"
#include "access/user_mst.h"
#include "page/context.h"
#include "request/velt.h"
#include "settings/strdef.h"
#include "store/fileio.h"
#include "store_tmpdir.h"
#include "tests/unit/reply_capture.h"

namespace {

// The records the stores and the gate read into and write from.
MST_SKEY key_rec;
ACL_MST acl_rec;
USER_GROUP_MST group_rec;
USER_MST user_rec;

using store_test::exists;
using store_test::read_all;
using store_test::write_all;

// The 536 bytes of one skey.mst record, built field by field as the suite
// lays them out (little-endian integers, zero-filled texts, zero padding).
std::string skey_bytes(int32_t k1, int32_t k2, const std::string& id, const std::string& addr,
                       const std::string& agent) {
    std::string r(536, '\0');
    for (int i = 0; i < 4; ++i) {
        r[i] = static_cast<char>((static_cast<uint32_t>(k1) >> (8 * i)) & 0xFF);
        r[4 + i] = static_cast<char>((static_cast<uint32_t>(k2) >> (8 * i)) & 0xFF);
    }
    r.replace(8, id.size(), id);
    r.replace(30, addr.size(), addr);
    r.replace(282, agent.size(), agent);
    return r;
}

void set_skey(int32_t k1, int32_t k2, const char* id, const char* addr = "", const char* agent = "") {
    std::memset(&key_rec, 0, sizeof key_rec);
    key_rec.SKEY1 = k1;
    key_rec.SKEY2 = k2;
    G_set(key_rec.USER_ID, id);
    G_set(key_rec.REMOTE_ADDR, addr);
    G_set(key_rec.USER_AGENT, agent);
}

class AccessStoreTest : public store_test::TmpDirTest {
protected:
    void SetUp() override {
        TmpDirTest::SetUp();
        mkdir(at("user").c_str(), 0700);
    }
    std::string user_dir(const std::string& id) {
        std::string d = at("user/" + id);
        mkdir(d.c_str(), 0700);
        return d + "/";
    }
    std::string room_dir(int n) {
        std::string d = at(std::to_string(n));
        mkdir(d.c_str(), 0700);
        return d + "/";
    }
};

// ---- skey.mst ----------------------------------------------------------

using SkeyStoreTest = AccessStoreTest;

TEST_F(SkeyStoreTest, AddWritesOne536ByteRecordInTheSuiteLayout) {
    const std::string d = user_dir("Taro");
    set_skey(123456789, 7, "Taro", "10.0.0.1", "Mozilla/4.0 (\x95\x5C)");
    ASSERT_EQ(Fio_MST_SKEY("Taro", STORE_ADD, &key_rec), 0);
    EXPECT_EQ(read_all(d + "skey.mst"), skey_bytes(123456789, 7, "Taro", "10.0.0.1", "Mozilla/4.0 (\x95\x5C)"));
    EXPECT_EQ(store_test::mode_of(d + "skey.mst"), 0600u);
    EXPECT_FALSE(exists(d + "skey.chk"));
    EXPECT_FALSE(exists(d + "skey.mst.tmp"));
}

TEST_F(SkeyStoreTest, UnusedBytesOfTheExchangeRecordNeverReachTheFile) {
    const std::string d = user_dir("Taro");
    std::memset(&key_rec, 'x', sizeof key_rec);
    key_rec.SKEY1 = 1;
    key_rec.SKEY2 = 2;
    std::strcpy(key_rec.USER_ID, "Taro");
    std::strcpy(key_rec.REMOTE_ADDR, "a");
    std::strcpy(key_rec.USER_AGENT, "b");
    ASSERT_EQ(Fio_MST_SKEY("Taro", STORE_ADD, &key_rec), 0);
    EXPECT_EQ(read_all(d + "skey.mst"), skey_bytes(1, 2, "Taro", "a", "b"));
}

TEST_F(SkeyStoreTest, ReadMatchesAnyCaseAndHandsBackTheIdUpperCased) {
    const std::string d = user_dir("Taro");
    // The given id names the directory; the record inside may spell it
    // otherwise.
    write_all(d + "skey.mst", skey_bytes(5, 6, "Hanako", "", "") + skey_bytes(11, 22, "tArO", "1.2.3.4", "UA"));
    {
        std::memset(&key_rec, 'z', sizeof key_rec);
        ASSERT_EQ(Fio_MST_SKEY("Taro", STORE_READ, &key_rec), 0);
        EXPECT_EQ(key_rec.SKEY1, 11);
        EXPECT_EQ(key_rec.SKEY2, 22);
        EXPECT_STREQ(key_rec.USER_ID, "TARO");
        EXPECT_STREQ(key_rec.REMOTE_ADDR, "1.2.3.4");
    }
    // Reads never change the file.
    EXPECT_EQ(read_all(d + "skey.mst"), skey_bytes(5, 6, "Hanako", "", "") + skey_bytes(11, 22, "tArO", "1.2.3.4", "UA"));
    // Another spelling of the id is another directory.
    EXPECT_EQ(Fio_MST_SKEY("TARO", STORE_READ, &key_rec), -2);
    EXPECT_FALSE(exists(at("user/TARO")));
}

TEST_F(SkeyStoreTest, ReadWithoutARecordClearsTheExchangeRecordAndCreatesTheFile) {
    const std::string d = user_dir("Taro");
    set_skey(9, 9, "x");
    EXPECT_EQ(Fio_MST_SKEY("Taro", STORE_READ, &key_rec), -1);
    EXPECT_EQ(key_rec.SKEY1, 0);
    EXPECT_STREQ(key_rec.USER_ID, "");
    EXPECT_TRUE(exists(d + "skey.mst"));
    EXPECT_EQ(read_all(d + "skey.mst"), "");
}

TEST_F(SkeyStoreTest, AddOfAnOwnerPresentInAnyCaseChangesNothing) {
    const std::string d = user_dir("Taro");
    const std::string before = skey_bytes(11, 22, "Taro", "", "");
    write_all(d + "skey.mst", before);
    set_skey(1, 2, "TARO");
    EXPECT_EQ(Fio_MST_SKEY("Taro", STORE_ADD, &key_rec), -3);
    EXPECT_EQ(read_all(d + "skey.mst"), before);
    EXPECT_FALSE(exists(d + "skey.mst.tmp"));
}

TEST_F(SkeyStoreTest, UpdateReplacesEveryMatchAndCarriesOthersUpperCased) {
    const std::string d = user_dir("Taro");
    write_all(d + "skey.mst", skey_bytes(1, 1, "taro", "", "") + skey_bytes(2, 2, "Other", "o", "") +
                                  skey_bytes(3, 3, "TARO", "", ""));
    set_skey(40, 50, "Taro", "addr", "agent");
    ASSERT_EQ(Fio_MST_SKEY("Taro", STORE_UPDATE, &key_rec), 0);
    EXPECT_EQ(read_all(d + "skey.mst"), skey_bytes(40, 50, "Taro", "addr", "agent") +
                                            skey_bytes(2, 2, "OTHER", "o", "") +
                                            skey_bytes(40, 50, "Taro", "addr", "agent"));
}

TEST_F(SkeyStoreTest, UpdateOrDeleteOfAnAbsentOwnerLeavesTheFile) {
    const std::string d = user_dir("Taro");
    const std::string before = skey_bytes(2, 2, "Other", "", "");
    write_all(d + "skey.mst", before);
    set_skey(1, 1, "Taro");
    EXPECT_EQ(Fio_MST_SKEY("Taro", STORE_UPDATE, &key_rec), -1);
    EXPECT_EQ(Fio_MST_SKEY("Taro", STORE_DELETE, &key_rec), -1);
    EXPECT_EQ(read_all(d + "skey.mst"), before);
    EXPECT_FALSE(exists(d + "skey.mst.tmp"));
}

TEST_F(SkeyStoreTest, DeleteRemovesEveryMatchByTheGivenId) {
    const std::string d = user_dir("Taro");
    write_all(d + "skey.mst", skey_bytes(1, 1, "taro", "", "") + skey_bytes(2, 2, "Other", "", "") +
                                  skey_bytes(3, 3, "Taro", "", ""));
    ASSERT_EQ(Fio_MST_SKEY("Taro", STORE_DELETE, &key_rec), 0);
    EXPECT_EQ(read_all(d + "skey.mst"), skey_bytes(2, 2, "OTHER", "", ""));
}

TEST_F(SkeyStoreTest, APartialRecordEndsTheScanAndIsNotCarriedOver) {
    const std::string d = user_dir("Taro");
    std::string partial = skey_bytes(7, 7, "Taro", "", "").substr(0, 100);
    write_all(d + "skey.mst", skey_bytes(2, 2, "Other", "", "") + partial);
    EXPECT_EQ(Fio_MST_SKEY("Taro", STORE_READ, &key_rec), -1);
    set_skey(8, 9, "Taro");
    ASSERT_EQ(Fio_MST_SKEY("Taro", STORE_ADD, &key_rec), 0);
    EXPECT_EQ(read_all(d + "skey.mst"), skey_bytes(2, 2, "OTHER", "", "") + skey_bytes(8, 9, "Taro", "", ""));
}

TEST_F(SkeyStoreTest, ARecordWithoutTerminatorsIsReadWithinItsFields) {
    // A damaged record: every text byte set, no zero anywhere in the texts.
    const std::string id(21, 'A');
    const std::string d = user_dir(id);
    std::string rec(536, 'A');
    rec[0] = 1, rec[1] = rec[2] = rec[3] = 0;
    rec[4] = 2, rec[5] = rec[6] = rec[7] = 0;
    write_all(d + "skey.mst", rec);
    // The id field of 22 bytes holds at most 21 characters.
    ASSERT_EQ(Fio_MST_SKEY(id.c_str(), STORE_READ, &key_rec), 0);
    EXPECT_EQ(std::string(key_rec.USER_ID), id);
    EXPECT_EQ(key_rec.SKEY1, 1);
    EXPECT_EQ(std::strlen(key_rec.REMOTE_ADDR), 251u);
    EXPECT_EQ(std::strlen(key_rec.USER_AGENT), 251u);
}

TEST_F(SkeyStoreTest, AHeldLockRefusesReadsAndWritesAlike) {
    const std::string d = user_dir("Taro");
    const std::string before = skey_bytes(11, 22, "Taro", "", "");
    write_all(d + "skey.mst", before);
    write_all(d + "skey.chk", "");
    set_skey(1, 2, "Taro");
    EXPECT_EQ(Fio_MST_SKEY("Taro", STORE_READ, &key_rec), -9);
    EXPECT_EQ(Fio_MST_SKEY("Taro", STORE_UPDATE, &key_rec), -9);
    EXPECT_EQ(read_all(d + "skey.mst"), before);
    EXPECT_TRUE(exists(d + "skey.chk"));  // someone else's lock stays
}

TEST_F(SkeyStoreTest, AMissingUserDirectoryGivesMinusTwoAndCreatesNothing) {
    set_skey(1, 2, "Nobody");
    EXPECT_EQ(Fio_MST_SKEY("Nobody", STORE_READ, &key_rec), -2);
    EXPECT_EQ(Fio_MST_SKEY("Nobody", STORE_ADD, &key_rec), -2);
    EXPECT_FALSE(exists(at("user/Nobody")));
}

TEST_F(SkeyStoreTest, IdsThatWouldLeaveTheUserDirectoryAreRefused) {
    user_dir("x");
    set_skey(1, 2, "..");
    for (const char* id : {"", ".", "..", "../x", "x/..", "a\\b"}) {
        EXPECT_EQ(Fio_MST_SKEY(id, STORE_READ, &key_rec), -1) << id;
        EXPECT_EQ(Fio_MST_SKEY(id, STORE_ADD, &key_rec), -1) << id;
    }
    EXPECT_FALSE(exists(at("skey.mst")));
    EXPECT_FALSE(exists(at("user/skey.mst")));
    EXPECT_FALSE(exists(at("user/x/skey.mst")));
    EXPECT_FALSE(exists(at("skey.chk")));
    EXPECT_EQ(Fio_MST_SKEY("x", 0, &key_rec), FIO_BAD_ARGUMENT);
    EXPECT_EQ(Fio_MST_SKEY("x", 5, &key_rec), FIO_BAD_ARGUMENT);
    EXPECT_FALSE(exists(at("user/x/skey.mst")));
}

// ---- acl.mst -------------------------------------------------------------

class AclStoreTest : public AccessStoreTest {
protected:
    std::string file;
    void SetUp() override {
        AccessStoreTest::SetUp();
        file = room_dir(12) + "acl.mst";
    }
    void set_user(const char* id, int permit) {
        std::memset(&acl_rec, 0, sizeof acl_rec);
        acl_rec.FOLDER_NO = 12;
        G_set(acl_rec.U_OR_G, "U");
        G_set(acl_rec.USER_ID, id);
        acl_rec.PERMIT = permit;
    }
    void set_group(int group, int permit) {
        std::memset(&acl_rec, 0, sizeof acl_rec);
        acl_rec.FOLDER_NO = 12;
        G_set(acl_rec.U_OR_G, "G");
        acl_rec.GROUP_ID = group;
        acl_rec.PERMIT = permit;
    }
    int read_at(int n) {
        std::memset(&acl_rec, 0x55, sizeof acl_rec);
        acl_rec.FOLDER_NO = 12;
        return Fio_ACL_MST(n, STORE_READ, 2, &acl_rec);
    }
};

TEST_F(AclStoreTest, AddsWriteTheSuiteLinesAtTheEnd) {
    set_user("taro", 5);
    ASSERT_EQ(Fio_ACL_MST(0, STORE_ADD, 1, &acl_rec), 0);
    set_group(3, -2);
    ASSERT_EQ(Fio_ACL_MST(0, STORE_ADD, 2, &acl_rec), 0);  // an add is by key whatever the search mode
    set_user("\x95\x5C", 9);
    ASSERT_EQ(Fio_ACL_MST(0, STORE_ADD, 1, &acl_rec), 0);
    EXPECT_EQ(read_all(file), "U,taro,5,\nG,3,-2,\nU,\x95\x5C,9,\n");
    EXPECT_FALSE(exists(room_dir(12) + "acl.chk"));
    EXPECT_FALSE(exists(file + ".tmp"));
}

TEST_F(AclStoreTest, AddOfAPresentKeyChangesNothing) {
    const std::string before = "U,taro,5,\r\nG,3,2,\n";
    write_all(file, before);
    set_user("taro", 9);
    EXPECT_EQ(Fio_ACL_MST(0, STORE_ADD, 1, &acl_rec), -3);
    set_group(3, 9);
    EXPECT_EQ(Fio_ACL_MST(0, STORE_ADD, 1, &acl_rec), -3);
    EXPECT_EQ(read_all(file), before);
    EXPECT_FALSE(exists(file + ".tmp"));
}

TEST_F(AclStoreTest, ReadByKeyTakesTheFirstEntryOfTheTypeAndOnlyItsPermit) {
    write_all(file, "G,7,4,\nU,7,3,\nU,taro,6,\nU,taro,1,\nG,7,2,\n");
    set_user("taro", 0);
    ASSERT_EQ(Fio_ACL_MST(0, STORE_READ, 1, &acl_rec), 0);
    EXPECT_EQ(acl_rec.PERMIT, 6);
    EXPECT_STREQ(acl_rec.USER_ID, "taro");
    set_user("TARO", 0);  // user ids of the list match byte for byte
    EXPECT_EQ(Fio_ACL_MST(0, STORE_READ, 1, &acl_rec), -1);
    set_group(7, 0);
    ASSERT_EQ(Fio_ACL_MST(0, STORE_READ, 1, &acl_rec), 0);
    EXPECT_EQ(acl_rec.PERMIT, 4);
    set_group(8, 0);
    EXPECT_EQ(Fio_ACL_MST(0, STORE_READ, 1, &acl_rec), -1);
}

TEST_F(AclStoreTest, ReadByPositionCountsOnlyWholeEntries) {
    write_all(file, "U,hanako,2,\nG,5,7\nnothing\nG,5,7,\n\nU,taro,-1,");
    ASSERT_EQ(read_at(0), 0);  // 0 or less is the first entry
    EXPECT_STREQ(acl_rec.U_OR_G, "U");
    EXPECT_STREQ(acl_rec.USER_ID, "hanako");
    EXPECT_EQ(acl_rec.GROUP_ID, 0);
    EXPECT_EQ(acl_rec.PERMIT, 2);
    EXPECT_EQ(acl_rec.FOLDER_NO, 12);
    ASSERT_EQ(read_at(2), 0);
    EXPECT_STREQ(acl_rec.U_OR_G, "G");
    EXPECT_STREQ(acl_rec.USER_ID, "");
    EXPECT_EQ(acl_rec.GROUP_ID, 5);
    EXPECT_EQ(acl_rec.PERMIT, 7);
    ASSERT_EQ(read_at(3), 0);
    EXPECT_STREQ(acl_rec.USER_ID, "taro");
    EXPECT_EQ(acl_rec.PERMIT, -1);
    EXPECT_EQ(read_at(4), -1);
}

TEST_F(AclStoreTest, DeleteAndUpdateActOnTheFirstMatchOnly) {
    write_all(file, "U,taro,1,\nG,2,2,\nU,taro,3,\n");
    set_user("taro", 8);
    ASSERT_EQ(Fio_ACL_MST(0, STORE_UPDATE, 1, &acl_rec), 0);
    EXPECT_EQ(read_all(file), "U,taro,8,\nG,2,2,\nU,taro,3,\n");
    set_group(2, 0);
    ASSERT_EQ(Fio_ACL_MST(0, STORE_DELETE, 1, &acl_rec), 0);
    EXPECT_EQ(read_all(file), "U,taro,8,\nU,taro,3,\n");
    set_user("taro", 0);
    ASSERT_EQ(Fio_ACL_MST(0, STORE_DELETE, 1, &acl_rec), 0);
    EXPECT_EQ(read_all(file), "U,taro,3,\n");
}

TEST_F(AclStoreTest, DeleteOrUpdateOfAMissingKeyLeavesTheFileByteForByte) {
    const std::string before = "U,taro,1,\r\nbroken\nG,2,2,\n";
    write_all(file, before);
    set_user("jiro", 1);
    EXPECT_EQ(Fio_ACL_MST(0, STORE_DELETE, 1, &acl_rec), -3);
    set_group(9, 1);
    EXPECT_EQ(Fio_ACL_MST(0, STORE_UPDATE, 1, &acl_rec), -3);
    EXPECT_EQ(read_all(file), before);
    EXPECT_FALSE(exists(file + ".tmp"));
}

TEST_F(AclStoreTest, RewritesDropLinesOfFewerThanTwoCommasAndMatchTwoFieldLines) {
    write_all(file, "junk\nU,solo\nG,4,\nU,taro,2,extra\r\n");
    set_group(4, 6);
    // The two-comma line is not an entry for a read, but a rewrite matches it.
    EXPECT_EQ(Fio_ACL_MST(0, STORE_READ, 1, &acl_rec), -1);
    EXPECT_EQ(Fio_ACL_MST(0, STORE_UPDATE, 1, &acl_rec), 0);
    EXPECT_EQ(read_all(file), "G,4,6,\nU,taro,2,extra\r\n");
}

TEST_F(AclStoreTest, AnOverlongLineIsOneLineForReadsAndRewrites) {
    // 1200 bytes: the part after the first 999 must not count as a line.
    const std::string long_keep = "G,5,9," + std::string(1200, 'x') + "\n";
    const std::string long_drop = "X" + std::string(998, 'a') + "G,7,9,\n";
    write_all(file, long_drop + long_keep + "U,taro,1,");
    set_group(7, 0);
    EXPECT_EQ(Fio_ACL_MST(0, STORE_READ, 1, &acl_rec), -1);
    ASSERT_EQ(read_at(1), 0);
    EXPECT_EQ(acl_rec.GROUP_ID, 5);
    ASSERT_EQ(read_at(2), 0);
    EXPECT_STREQ(acl_rec.USER_ID, "taro");
    EXPECT_EQ(read_at(3), -1);
    // The kept line goes through whole; the last line gets its line end
    // before the new entry.
    set_group(8, 1);
    ASSERT_EQ(Fio_ACL_MST(0, STORE_ADD, 1, &acl_rec), 0);
    EXPECT_EQ(read_all(file), long_keep + "U,taro,1,\nG,8,1,\n");
}

TEST_F(AclStoreTest, BadArgumentsTouchNoFile) {
    set_user("ta,ro", 1);
    EXPECT_EQ(Fio_ACL_MST(0, STORE_ADD, 1, &acl_rec), FIO_BAD_ARGUMENT);
    set_user("ta\nro", 1);
    EXPECT_EQ(Fio_ACL_MST(0, STORE_ADD, 1, &acl_rec), FIO_BAD_ARGUMENT);
    set_user("taro", 1);
    G_set(acl_rec.U_OR_G, "X");
    EXPECT_EQ(Fio_ACL_MST(0, STORE_ADD, 1, &acl_rec), FIO_BAD_ARGUMENT);
    EXPECT_EQ(Fio_ACL_MST(0, STORE_READ, 1, &acl_rec), FIO_BAD_ARGUMENT);
    set_user("taro", 1);
    EXPECT_EQ(Fio_ACL_MST(0, 0, 1, &acl_rec), FIO_BAD_ARGUMENT);
    EXPECT_EQ(Fio_ACL_MST(0, STORE_READ, 3, &acl_rec), FIO_BAD_ARGUMENT);
    EXPECT_FALSE(exists(file));
}

TEST_F(AclStoreTest, LockAndMissingFolderDirectory) {
    write_all(file, "U,taro,1,\n");
    write_all(room_dir(12) + "acl.chk", "");
    set_user("taro", 0);
    EXPECT_EQ(Fio_ACL_MST(0, STORE_READ, 1, &acl_rec), -9);
    set_user("jiro", 2);
    EXPECT_EQ(Fio_ACL_MST(0, STORE_ADD, 1, &acl_rec), -9);
    EXPECT_EQ(read_all(file), "U,taro,1,\n");
    acl_rec.FOLDER_NO = 99;
    EXPECT_EQ(Fio_ACL_MST(0, STORE_READ, 1, &acl_rec), -2);
    EXPECT_EQ(Fio_ACL_MST(0, STORE_ADD, 1, &acl_rec), -2);
    EXPECT_FALSE(exists(at("99")));
}

// ---- user_g.mst ------------------------------------------------------------

class UserGroupStoreTest : public AccessStoreTest {
protected:
    std::string file;
    void SetUp() override {
        AccessStoreTest::SetUp();
        file = user_dir("Taro") + "user_g.mst";
    }
    int op(int n, int store_op, int search, int new_id = 0, const char* id = "Taro") {
        std::memset(&group_rec, 0, sizeof group_rec);
        G_set(group_rec.USER_ID, id);
        group_rec.GROUP_ID = new_id;
        return Fio_USER_GROUP_MST(n, store_op, search, &group_rec);
    }
};

TEST_F(UserGroupStoreTest, AddByIdKeepsTheAscendingOrder) {
    write_all(file, "3,\n10,\n");
    ASSERT_EQ(op(0, STORE_ADD, 1, 5), 0);
    ASSERT_EQ(op(0, STORE_ADD, 1, 12), 0);
    ASSERT_EQ(op(0, STORE_ADD, 1, 1), 0);
    EXPECT_EQ(read_all(file), "1,\n3,\n5,\n10,\n12,\n");
    EXPECT_EQ(op(0, STORE_ADD, 1, 5), -3);
    EXPECT_EQ(read_all(file), "1,\n3,\n5,\n10,\n12,\n");
    EXPECT_FALSE(exists(file + ".tmp"));
    EXPECT_FALSE(exists(file.substr(0, file.size() - 10) + "user_g.chk"));
}

TEST_F(UserGroupStoreTest, ReadByIdStopsAtTheFirstGreaterId) {
    write_all(file, "3,\n10,\n");
    EXPECT_EQ(op(10, STORE_READ, 1), 0);
    EXPECT_EQ(group_rec.GROUP_ID, 10);
    EXPECT_EQ(op(5, STORE_READ, 1), -1);
    // Out of order, a membership hides behind a greater id.
    write_all(file, "10,\n3,\n");
    EXPECT_EQ(op(3, STORE_READ, 1), -1);
    EXPECT_EQ(op(10, STORE_READ, 1), 0);
}

TEST_F(UserGroupStoreTest, ReadByPositionCountsLinesWithAComma) {
    write_all(file, "3,\nnothing\n\n10,\r\n-4,");
    EXPECT_EQ(op(1, STORE_READ, 2), 0);
    EXPECT_EQ(group_rec.GROUP_ID, 3);
    EXPECT_EQ(op(2, STORE_READ, 2), 0);
    EXPECT_EQ(group_rec.GROUP_ID, 10);
    EXPECT_EQ(op(3, STORE_READ, 2), 0);
    EXPECT_EQ(group_rec.GROUP_ID, -4);
    EXPECT_EQ(op(4, STORE_READ, 2), -1);
    EXPECT_EQ(op(0, STORE_READ, 2), -1);
}

TEST_F(UserGroupStoreTest, AddByPositionInsertsBeforeThatLineOrAppends) {
    write_all(file, "3,\n10,");
    ASSERT_EQ(op(1, STORE_ADD, 2, 7), 0);
    EXPECT_EQ(read_all(file), "7,\n3,\n10,\n");
    ASSERT_EQ(op(9, STORE_ADD, 2, 2), 0);
    EXPECT_EQ(read_all(file), "7,\n3,\n10,\n2,\n");
    EXPECT_EQ(op(0, STORE_ADD, 2, 1), FIO_BAD_ARGUMENT);
    EXPECT_EQ(read_all(file), "7,\n3,\n10,\n2,\n");
}

TEST_F(UserGroupStoreTest, DeleteAndUpdateByIdOrPosition) {
    write_all(file, "3,\njunk\n5,\n10,\n");
    ASSERT_EQ(op(5, STORE_UPDATE, 1, 6), 0);
    EXPECT_EQ(read_all(file), "3,\n6,\n10,\n");
    ASSERT_EQ(op(3, STORE_DELETE, 2), 0);
    EXPECT_EQ(read_all(file), "3,\n6,\n");
    ASSERT_EQ(op(3, STORE_DELETE, 1), 0);
    EXPECT_EQ(read_all(file), "6,\n");
    ASSERT_EQ(op(1, STORE_UPDATE, 2, 4), 0);
    EXPECT_EQ(read_all(file), "4,\n");
}

TEST_F(UserGroupStoreTest, DeleteOrUpdateOfAnAbsentIdLeavesTheFileByteForByte) {
    const std::string before = "3,\r\nnote\n10,\n";
    write_all(file, before);
    EXPECT_EQ(op(5, STORE_DELETE, 1), -3);
    EXPECT_EQ(op(5, STORE_UPDATE, 1, 6), -3);
    EXPECT_EQ(op(3, STORE_DELETE, 2), -3);
    EXPECT_EQ(op(0, STORE_UPDATE, 2, 6), -3);
    EXPECT_EQ(read_all(file), before);
    EXPECT_FALSE(exists(file + ".tmp"));
}

TEST_F(UserGroupStoreTest, UnsafeIdsLocksAndMissingDirectories) {
    for (const char* id : {"", "..", "../Taro", "Taro/x"}) {
        EXPECT_EQ(op(1, STORE_READ, 1, 0, id), -1) << id;
        EXPECT_EQ(op(0, STORE_ADD, 1, 4, id), -1) << id;
    }
    EXPECT_FALSE(exists(at("user_g.mst")));
    EXPECT_FALSE(exists(at("user/user_g.mst")));
    EXPECT_FALSE(exists(file));
    EXPECT_EQ(op(1, STORE_READ, 1, 0, "Ghost"), -2);
    EXPECT_FALSE(exists(at("user/Ghost")));
    write_all(file, "3,\n");
    write_all(file.substr(0, file.size() - 10) + "user_g.chk", "");
    EXPECT_EQ(op(3, STORE_READ, 1), -9);
    EXPECT_EQ(op(0, STORE_ADD, 1, 4), -9);
    EXPECT_EQ(read_all(file), "3,\n");
    EXPECT_EQ(op(3, STORE_READ, 3), FIO_BAD_ARGUMENT);
}

// ---- access check ------------------------------------------------------------

// Room 12 with the given default levels, and a current user.
class AccessCheckTest : public AccessStoreTest {
protected:
    void SetUp() override {
        AccessStoreTest::SetUp();
        room_dir(12);
        user_dir("Taro");
        folder(0, 10);
        context_clear();
        G_set(ctx.user.USER_ID, "Taro");
        ctx.user.USER_LEVEL = 5;
        ctx.user.MODE = 1;
        ctx.user.P_GROUP = 2;
    }
    void TearDown() override {
        context_clear();
        AccessStoreTest::TearDown();
    }
    void folder(int access, int write) {
        write_all(at("tree.mst"), "1,Top,0,/cgi-bin/x.cgi,0,0,,0,0,0,0,\n 12,Chat,0,/cgi-bin/velt.cgi?A=1," +
                                      std::to_string(access) + "," + std::to_string(write) + ",,0,0,0,0,\n");
    }
    void acl(const std::string& lines) { write_all(at("12/acl.mst"), lines); }
    void groups(const std::string& lines) { write_all(user_dir("Taro") + "user_g.mst", lines); }
};

TEST_F(AccessCheckTest, ASystemAdministratorGetsNineWithoutAnyFileRead) {
    ctx.user.USER_LEVEL = 100;
    acl("U,Taro,-5,\n");
    EXPECT_EQ(velt_access_level(12), 9);
    G_set(data_path, (dir + "/nowhere/").c_str());
    EXPECT_EQ(velt_access_level(12), 9);
    EXPECT_FALSE(exists(at("nowhere")));
    ctx.user.USER_LEVEL = 99;
    EXPECT_EQ(velt_access_level(12), 0);
}

TEST_F(AccessCheckTest, ASharedAccountIsShutOutByTheRoomSwitchOne) {
    write_all(at("12/dir.cnf"), "FRAMESET1,20%,\nSHARE_USER_PERMIT,1,\n");
    acl("U,Taro,9,\n");
    ctx.user.MODE = 2;
    EXPECT_EQ(velt_access_level(12), 0);
    ctx.user.MODE = 1;  // an ordinary account in the same room
    EXPECT_EQ(velt_access_level(12), 9);
    // Any other value lets the check go on.
    ctx.user.MODE = 2;
    for (const char* v : {"2", "", "0", "x"}) {
        write_all(at("12/dir.cnf"), std::string("SHARE_USER_PERMIT,") + v + ",\n");
        EXPECT_EQ(velt_access_level(12), 9) << v;
    }
    write_all(at("12/dir.cnf"), "");
    EXPECT_EQ(velt_access_level(12), 9);
}

TEST_F(AccessCheckTest, AUserEntryOfEightOrMoreEndsTheSearch) {
    acl("G,2,9,\nU,Taro,8,\n");
    EXPECT_EQ(velt_access_level(12), 8);
    acl("U,Taro,7,\nG,2,9,\n");
    EXPECT_EQ(velt_access_level(12), 9);
}

TEST_F(AccessCheckTest, AGroupEntryOfThePrimaryGroupRaisesTheLevel) {
    acl("G,2,9,\n");
    EXPECT_EQ(velt_access_level(12), 9);
    acl("G,2,4,\nG,3,6,\n");
    EXPECT_EQ(velt_access_level(12), 4);
}

TEST_F(AccessCheckTest, GroupEntriesCountForGroupsOfTheMembershipList) {
    groups("3,\n10,\n");
    acl("G,10,4,\n");
    EXPECT_EQ(velt_access_level(12), 4);
    acl("G,5,4,\nG,3,3,\n");
    EXPECT_EQ(velt_access_level(12), 3);
    // The membership scan relies on the ascending order: 5 hides behind 10.
    groups("10,\n5,\n");
    acl("G,5,6,\n");
    EXPECT_EQ(velt_access_level(12), 1);
    groups("5,\n10,\n");
    EXPECT_EQ(velt_access_level(12), 6);
}

TEST_F(AccessCheckTest, TheHighestOfUserAndGroupEntriesWins) {
    groups("7,\n");
    acl("U,Taro,3,\nG,7,2,\n");
    EXPECT_EQ(velt_access_level(12), 3);
    acl("U,Taro,3,\nG,7,5,\n");
    EXPECT_EQ(velt_access_level(12), 5);
}

TEST_F(AccessCheckTest, OtherUsersAndOtherGroupsChangeNothing) {
    groups("7,\n");
    acl("U,Hanako,9,\nU,taro,9,\nG,8,9,\nG,7,9\n");  // the last lacks its third comma
    EXPECT_EQ(velt_access_level(12), 1);
}

TEST_F(AccessCheckTest, FolderDefaultsGiveOneToReadersAndTwoToWriters) {
    EXPECT_EQ(velt_access_level(12), 1);  // ACCESS_LEVEL 0, WRITE_LEVEL 10
    folder(0, 5);
    EXPECT_EQ(velt_access_level(12), 2);
    folder(6, 10);
    EXPECT_EQ(velt_access_level(12), 0);
    acl("U,Taro,1,\n");
    folder(0, 5);
    EXPECT_EQ(velt_access_level(12), 2);
}

// The folder record the entry read (ctx.folder) gives the defaults of its own
// folder without a second read of the tree; another folder's are read.
TEST_F(AccessCheckTest, TheFolderTheEntryReadIsNotReadAgain) {
    folder(0, 5);
    ctx.folder.FOLDER_NO = 12;
    ctx.folder.ACCESS_LEVEL = 6;
    ctx.folder.WRITE_LEVEL = 10;
    EXPECT_EQ(velt_access_level(12), 0);
    write_all(at("tree.mst"), "");  // gone meanwhile: the record read stands
    ctx.folder.ACCESS_LEVEL = 0;
    EXPECT_EQ(velt_access_level(12), 1);
    ctx.folder.FOLDER_NO = 13;
    folder(0, 5);
    EXPECT_EQ(velt_access_level(12), 2);
}

TEST_F(AccessCheckTest, ANegativeUserEntryDeniesNothingTheDefaultsGrant) {
    acl("U,Taro,-5,\n");
    EXPECT_EQ(velt_access_level(12), 1);
    folder(0, 5);
    EXPECT_EQ(velt_access_level(12), 2);
    folder(6, 10);
    EXPECT_EQ(velt_access_level(12), -5);
}

TEST_F(AccessCheckTest, AFolderNotInTheTreeSkipsTheDefaults) {
    write_all(room_dir(77) + "acl.mst", "U,Taro,1,\n");
    int r = -1;
    EXPECT_EQ(velt_access_level(77, &r), 1);  // no tree line: the entry alone
    EXPECT_EQ(r, 0);
    write_all(at("77/acl.mst"), "");
    EXPECT_EQ(velt_access_level(77, &r), 0);
    EXPECT_EQ(r, 0);
}

TEST_F(AccessCheckTest, AListThatCannotBeReadLeavesTheLevelUnknown) {
    // Each read would have mattered: the entry of 6 or the group's 7 would
    // be missed, the defaults' 1 lost. None may count as "holds nothing".
    groups("7,\n");
    acl("U,Taro,6,\nG,7,7,\n");
    int r = -1;
    EXPECT_EQ(velt_access_level(12, &r), 7);
    EXPECT_EQ(r, 0);
    struct Case {
        const char* lock;
        std::string acl;
        int want;
    };
    for (const Case& c : {Case{"12/acl.chk", "U,Taro,6,\nG,7,7,\n", -9},
                          Case{"user/Taro/user_g.chk", "U,Taro,6,\nG,7,7,\n", -9},
                          Case{"tree_mst.chk", "", -9}}) {
        SCOPED_TRACE(c.lock);
        acl(c.acl);
        write_all(at(c.lock), "");
        r = 0;
        EXPECT_EQ(velt_access_level(12, &r), 0);
        EXPECT_EQ(r, c.want);
        std::remove(at(c.lock).c_str());
        EXPECT_EQ(velt_access_level(12, &r), c.acl.empty() ? 1 : 7);
        EXPECT_EQ(r, 0);
    }
    // A room whose directory is gone cannot hold (or create) its list.
    write_all(at("tree.mst"), read_all(at("tree.mst")) + " 13,Gone,0,/cgi-bin/velt.cgi,0,0,,0,0,0,0,\n");
    EXPECT_EQ(velt_access_level(13, &r), 0);
    EXPECT_EQ(r, -2);
    // A shared account's room switch that cannot be read: it may shut him out.
    ctx.user.MODE = 2;
    EXPECT_EQ(velt_access_level(13, &r), 0);
    EXPECT_EQ(r, -2);
    EXPECT_FALSE(exists(at("13")));
}

// ---- login gate ----------------------------------------------------------------

// The password file as the suite writes it: each byte NOT-ed, XOR-ed with the
// id read from its last character backwards, as two lower-case hex digits.
std::string scrambled(const std::string& pw, const std::string& key) {
    std::string out;
    size_t k = key.size() - 1;
    for (unsigned char c : pw.substr(0, 20)) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", static_cast<unsigned>((~c ^ static_cast<unsigned char>(key[k])) & 0xFF));
        out += hex;
        k = (k == 0) ? key.size() - 1 : k - 1;
    }
    return out;
}

class LoginGateTest : public AccessStoreTest {
protected:
    void SetUp() override {
        AccessStoreTest::SetUp();
        write_all(at("user.mst"), "Hanako\nTaro\r\nShare\nOpen\n");
        add_user("Taro", "pa\x95\x5Css", "USER_LEVEL,5\n");
        add_user("Hanako", "hana", "");
        add_user("Share", "share", "MODE,2\n");
        add_user("Open", "", "");
        context_clear();
        for (int i : {1, 2, 3, 4, 5, 6, 7, 19}) {
            const std::string m = "M" + std::to_string(i);
            strdef_set(&ctx.messages, i, m.c_str(), m.size());
        }
        clear_request();
        setenv("REMOTE_ADDR", "192.0.2.7", 1);
        setenv("HTTP_USER_AGENT", "TestAgent/1.0", 1);
    }
    void TearDown() override {
        context_clear();
        unsetenv("REMOTE_ADDR");
        unsetenv("HTTP_USER_AGENT");
        AccessStoreTest::TearDown();
    }
    void add_user(const std::string& id, const std::string& pw, const std::string& personal) {
        const std::string d = user_dir(id);
        write_all(d + "password.mst", scrambled(pw, id));
        write_all(d + "personal.mst", personal);
    }
    static void clear_request() { ctx.query = REQUEST_FIELDS{}; }
    // Runs the gate on the given request fields; returns its result, the page
    // it printed goes to `page`.
    bool gate(const char* uid, const char* upw, const char* k1, const char* k2, int* fast, std::string* page) {
        clear_request();
        G_set(ctx.query.uid, uid);
        G_set(ctx.query.upw, upw);
        G_set(ctx.query.SKEY1, k1);
        G_set(ctx.query.SKEY2, k2);
        *fast = -1;
        bool passed = false;
        *page = reply_test::capture([&] { passed = velt_gate(fast); });
        return passed;
    }
    // All files below the data directory, to see that a refusal made none.
    std::set<std::string> tree() {
        std::set<std::string> out;
        for (auto& e : std::filesystem::recursive_directory_iterator(dir)) out.insert(e.path().string());
        return out;
    }
    static bool shows(const std::string& page, const std::string& title, const std::string& text) {
        return page.find("<FONT SIZE=\"5\"><B>" + title + "</B></FONT>\n") != std::string::npos &&
               page.find("<FONT COLOR=\"RED\"><B>" + text + "</B></FONT>\n") != std::string::npos;
    }
    static bool is_key_text(const char* s) {
        char* end = nullptr;
        long v = std::strtol(s, &end, 10);
        return s[0] != '\0' && *end == '\0' && v >= 1 && v <= 2147483647L;
    }
};

TEST_F(LoginGateTest, WithoutAUserIdTheRequestIsRefusedWithMessagesThreeAndFour) {
    int fast;
    std::string page;
    EXPECT_FALSE(gate("", "pw", "", "", &fast, &page));
    EXPECT_TRUE(shows(page, "M3", "M4")) << page;
    EXPECT_EQ(fast, 0);
    // Key halves without a user id take the password path all the same.
    EXPECT_FALSE(gate("", "", "12", "34", &fast, &page));
    EXPECT_TRUE(shows(page, "M3", "M4")) << page;
    EXPECT_STREQ(ctx.query.SKEY1, "12");  // this refusal does not touch the key fields
}

TEST_F(LoginGateTest, APasswordLoginIssuesAStoredKeyAndTheStoredSpellingOfTheId) {
    int fast;
    std::string page;
    ASSERT_TRUE(gate("taro", "pa\x95\x5Css", "", "", &fast, &page));
    EXPECT_EQ(page, "");
    EXPECT_EQ(fast, 1);
    EXPECT_STREQ(ctx.query.uid, "Taro");
    ASSERT_TRUE(is_key_text(ctx.query.SKEY1)) << ctx.query.SKEY1;
    ASSERT_TRUE(is_key_text(ctx.query.SKEY2)) << ctx.query.SKEY2;
    EXPECT_EQ(read_all(at("user/Taro/skey.mst")),
              skey_bytes(std::atoi(ctx.query.SKEY1), std::atoi(ctx.query.SKEY2), "Taro", "192.0.2.7", "TestAgent/1.0"));
    EXPECT_STREQ(ctx.user.USER_ID, "Taro");
    // The following request carries the stored spelling and passes by key.
    std::string k1 = ctx.query.SKEY1, k2 = ctx.query.SKEY2;
    EXPECT_TRUE(gate("Taro", "", k1.c_str(), k2.c_str(), &fast, &page));
    EXPECT_EQ(page, "");
    EXPECT_EQ(fast, 0);
}

TEST_F(LoginGateTest, AWrongOrUnknownLoginIsRefusedWithMessagesFiveAndSix) {
    int fast;
    std::string page;
    const std::set<std::string> before = tree();
    for (auto [uid, pw] : std::vector<std::pair<const char*, const char*>>{
             {"Taro", "pa\x95\x5CsS"}, {"Taro", ""}, {"Taro", "pa\x95\x5Css "}, {"Jiro", "x"}, {"Hanako", "pa\x95\x5Css"}}) {
        EXPECT_FALSE(gate(uid, pw, "", "", &fast, &page)) << uid << "/" << pw;
        EXPECT_TRUE(shows(page, "M5", "M6")) << page;
        EXPECT_EQ(fast, 0);
        EXPECT_STREQ(ctx.query.SKEY1, "");
        EXPECT_STREQ(ctx.query.SKEY2, "");
        EXPECT_STREQ(ctx.query.uid, uid);
    }
    EXPECT_EQ(tree(), before);  // no key file anywhere
}

TEST_F(LoginGateTest, OnlyOneKeyHalfMeansAPasswordLogin) {
    int fast;
    std::string page;
    // An account with the empty password passes with an empty upw.
    ASSERT_TRUE(gate("Open", "", "12", "", &fast, &page));
    EXPECT_EQ(fast, 1);
    EXPECT_NE(std::string(ctx.query.SKEY1), "12");
    EXPECT_FALSE(gate("Taro", "", "", "34", &fast, &page));
    EXPECT_TRUE(shows(page, "M5", "M6"));
}

TEST_F(LoginGateTest, TheKeyCheckComparesNumbers) {
    write_all(at("user/Taro/skey.mst"), skey_bytes(4711, 815, "TARO", "", ""));
    int fast;
    std::string page;
    EXPECT_TRUE(gate("Taro", "", "0004711", "815abc", &fast, &page));
    EXPECT_EQ(page, "");
    EXPECT_EQ(fast, 0);
    EXPECT_STREQ(ctx.query.SKEY1, "0004711");  // kept as sent
    EXPECT_STREQ(ctx.query.SKEY2, "815abc");
    EXPECT_EQ(G_SkeyChk("Taro", ctx.query.SKEY1, ctx.query.SKEY2, &key_rec), 0);
    for (auto [k1, k2] : std::vector<std::pair<const char*, const char*>>{{"4711", "816"}, {"4712", "815"}, {"x", "815"}}) {
        EXPECT_FALSE(gate("Taro", "", k1, k2, &fast, &page)) << k1;
        EXPECT_NE(page.find("<FONT SIZE=\"5\"><B>M7</B></FONT>\n"), std::string::npos) << page;
        EXPECT_EQ(page.find("M5"), std::string::npos);
        EXPECT_STREQ(ctx.query.SKEY1, "");
        EXPECT_STREQ(ctx.query.SKEY2, "");
    }
    // The key file is looked up under the id as sent.
    EXPECT_FALSE(gate("taro", "", "4711", "815", &fast, &page));
    EXPECT_NE(page.find("M7"), std::string::npos);
    EXPECT_FALSE(exists(at("user/taro")));
    // No stored key, or a key file locked by a concurrent login.
    EXPECT_FALSE(gate("Hanako", "", "4711", "815", &fast, &page));
    write_all(at("user/Taro/skey.chk"), "");
    EXPECT_EQ(G_SkeyChk("Taro", ctx.query.SKEY1, ctx.query.SKEY2, &key_rec), -9);
}

TEST_F(LoginGateTest, LoginsInTheSameSecondGetDifferentKeys) {
    std::set<std::string> seen;
    int fast;
    std::string page;
    for (int i = 0; i < 40; ++i) {
        ASSERT_TRUE(gate("Taro", "pa\x95\x5Css", "", "", &fast, &page));
        ASSERT_TRUE(is_key_text(ctx.query.SKEY1) && is_key_text(ctx.query.SKEY2));
        seen.insert(ctx.query.SKEY1);
        seen.insert(ctx.query.SKEY2);
    }
    EXPECT_EQ(seen.size(), 80u);
    // Only the last pair stays valid.
    EXPECT_EQ(Fio_MST_SKEY("Taro", STORE_READ, &key_rec), 0);
    EXPECT_EQ(std::to_string(key_rec.SKEY1), std::string(ctx.query.SKEY1));
    EXPECT_EQ(read_all(at("user/Taro/skey.mst")).size(), 536u);
}

TEST_F(LoginGateTest, ASharedAccountKeepsItsStoredPair) {
    const std::string stored = skey_bytes(-3, 77, "SHARE", "10.1.1.1", "First");
    write_all(at("user/Share/skey.mst"), stored);
    int fast;
    std::string page;
    ASSERT_TRUE(gate("SHARE", "share", "", "", &fast, &page));
    EXPECT_STREQ(ctx.query.SKEY1, "-3");
    EXPECT_STREQ(ctx.query.SKEY2, "77");
    EXPECT_STREQ(ctx.query.uid, "Share");
    EXPECT_EQ(read_all(at("user/Share/skey.mst")), stored);
    // Without a readable record the shared account gets a new pair, stored.
    std::remove(at("user/Share/skey.mst").c_str());
    ASSERT_TRUE(gate("Share", "share", "", "", &fast, &page));
    EXPECT_TRUE(is_key_text(ctx.query.SKEY1));
    EXPECT_EQ(read_all(at("user/Share/skey.mst")),
              skey_bytes(std::atoi(ctx.query.SKEY1), std::atoi(ctx.query.SKEY2), "Share", "192.0.2.7", "TestAgent/1.0"));
    // An ordinary account never reuses its pair.
    write_all(at("user/Taro/skey.mst"), skey_bytes(5, 6, "Taro", "", ""));
    ASSERT_TRUE(gate("Taro", "pa\x95\x5Css", "", "", &fast, &page));
    EXPECT_STRNE(ctx.query.SKEY1, "5");
}

TEST_F(LoginGateTest, IdsThatCouldLeaveTheDataDirectoryAreRefusedAndCreateNothing) {
    write_all(at("user.mst"), "Taro\n..\n../x\n.\n");
    mkdir(at("x").c_str(), 0700);
    const std::set<std::string> before = tree();
    int fast;
    std::string page;
    for (const char* uid : {"../x", "..", ".", "x/../Taro", "..\\x"}) {
        EXPECT_FALSE(gate(uid, "", "", "", &fast, &page)) << uid;
        EXPECT_TRUE(shows(page, "M5", "M6")) << uid;
        EXPECT_FALSE(gate(uid, "", "1", "2", &fast, &page)) << uid;
        EXPECT_NE(page.find("<B>M7</B>"), std::string::npos) << uid;
        EXPECT_EQ(page.find("M5"), std::string::npos) << uid;
    }
    EXPECT_EQ(tree(), before);
}

TEST_F(LoginGateTest, AnUnreadablePasswordNeverPassesForTheEmptyOneNorIsCalledWrong) {
    write_all(at("user/Taro/password.chk"), "");
    int fast;
    std::string page;
    EXPECT_EQ(G_LoginChk("Taro", "", ctx.query.SKEY1, ctx.query.SKEY2, &user_rec), -9);
    EXPECT_STREQ(ctx.query.SKEY1, "");
    EXPECT_FALSE(gate("Taro", "", "", "", &fast, &page));
    EXPECT_TRUE(shows(page, "", "M19")) << page;
    EXPECT_EQ(page.rfind("Status: 503 Service Unavailable\n", 0), 0u);
    EXPECT_FALSE(exists(at("user/Taro/skey.mst")));
}

TEST_F(LoginGateTest, ALoginWhoseKeyCannotBeStoredIsBusy) {
    write_all(at("user/Taro/skey.chk"), "");
    EXPECT_EQ(G_LoginChk("Taro", "pa\x95\x5Css", ctx.query.SKEY1, ctx.query.SKEY2, &user_rec), -9);
    EXPECT_TRUE(is_key_text(ctx.query.SKEY1));  // the pair is handed out all the same
    int fast;
    std::string page;
    EXPECT_FALSE(gate("Taro", "pa\x95\x5Css", "", "", &fast, &page));
    EXPECT_TRUE(shows(page, "", "M19")) << page;
    EXPECT_STREQ(ctx.query.SKEY1, "");
    EXPECT_EQ(fast, 0);
    EXPECT_EQ(read_all(at("user/Taro/skey.mst")), "");
}

TEST_F(LoginGateTest, EachFileTheGateCannotReadIsBusyNeverAWrongAnswer) {
    write_all(at("user/Taro/skey.mst"), skey_bytes(4711, 815, "TARO", "", ""));
    struct Row {
        const char* lock;  // held for the request
        const char* k1;    // "" for a password login
    };
    for (const Row& row : {Row{"user.chk", ""}, Row{"user/Taro/personal.chk", ""}, Row{"user/Taro/password.chk", ""},
                           Row{"user/Taro/skey.chk", ""}, Row{"user/Taro/skey.chk", "4711"}}) {
        SCOPED_TRACE(std::string(row.lock) + " " + row.k1);
        write_all(at(row.lock), "");
        char uid[LOGIN_FIELD] = "Taro", k1[LOGIN_FIELD] = {}, k2[LOGIN_FIELD] = {};
        G_set(k1, row.k1);
        G_set(k2, row.k1[0] ? "815" : "");
        int fast = -1;
        EXPECT_EQ(G_login_gate(uid, "pa\x95\x5Css", k1, k2, &fast, &user_rec), LOGIN_BUSY);
        EXPECT_STREQ(k1, "");
        EXPECT_STREQ(k2, "");
        EXPECT_EQ(fast, 0);
        std::remove(at(row.lock).c_str());
        EXPECT_EQ(read_all(at("user/Taro/skey.mst")), skey_bytes(4711, 815, "TARO", "", ""));
    }
    // A user with no directory at all has no key: the session page, as before.
    char uid[LOGIN_FIELD] = "Jiro", k1[LOGIN_FIELD] = "4711", k2[LOGIN_FIELD] = "815";
    int fast = -1;
    EXPECT_EQ(G_login_gate(uid, "", k1, k2, &fast, &user_rec), LOGIN_BAD_KEY);
    // Nor is a user listed without a directory a busy one.
    write_all(at("user.mst"), "Hanako\nTaro\r\nShare\nOpen\nJiro\n");
    EXPECT_EQ(G_LoginChk("Jiro", "", ctx.query.SKEY1, ctx.query.SKEY2, &user_rec), -1);
    EXPECT_FALSE(exists(at("user/Jiro")));
}

}  // namespace

TEST_F(LoginGateTest, TheGateNamesItsRefusalAndPrintsNothing) {
    write_all(at("user/Taro/skey.mst"), skey_bytes(4711, 815, "TARO", "", ""));
    struct Row { const char* uid; const char* upw; const char* k1; const char* k2; int want; };
    for (const Row& row : {Row{"", "pw", "", "", LOGIN_NO_UID}, Row{"Taro", "wrong", "", "", LOGIN_REFUSED},
                           Row{"Taro", "", "4711", "816", LOGIN_BAD_KEY}, Row{"Taro", "", "4711", "815", LOGIN_PASSED}}) {
        char uid[LOGIN_FIELD] = {}, k1[LOGIN_FIELD] = {}, k2[LOGIN_FIELD] = {};
        G_set(uid, row.uid);
        G_set(k1, row.k1);
        G_set(k2, row.k2);
        int fast = -1;
        int r = -1;
        EXPECT_EQ(reply_test::capture([&] { r = G_login_gate(uid, row.upw, k1, k2, &fast, &user_rec); }), "");
        EXPECT_EQ(r, row.want) << row.uid << "/" << row.k2;
        EXPECT_EQ(fast, 0);
    }
}
