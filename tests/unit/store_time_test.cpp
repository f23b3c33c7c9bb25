// Tests of the time stamps: the site's correction across year ends and the
// end of February, minute shifts, the corrected current stamp on a shifted
// clock, and the sleeping whole-second wait.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "settings/sysinfo.h"
#include "store/datetime.h"

namespace {

// The site's settings whose correction the clock reads where it stands.
SYSINFO_REC SYSINFO;

std::string add_hour(const char* stamp, const char* correction) {
    char b[20];
    std::strcpy(b, stamp);
    Tm_add_hour(b, correction);
    return b;
}

std::string add_minute(const char* stamp, int minutes) {
    char b[20];
    std::strcpy(b, stamp);
    Tm_add_minute(b, minutes);
    return b;
}

TEST(TmAddHour, CorrectsAcrossYearEnds) {
    EXPECT_EQ(add_hour("2003/12/31 20:30", "+09:00"), "2004/01/01 05:30");
    EXPECT_EQ(add_hour("2004/01/01 05:30", "-09:00"), "2003/12/31 20:30");
}

TEST(TmAddHour, KnowsNoLeapDay) {
    EXPECT_EQ(add_hour("2004/03/01 00:10", "-00:30"), "2004/02/28 23:40");
    EXPECT_EQ(add_hour("2004/02/28 20:00", "+05:00"), "2004/03/01 01:00");
}

TEST(TmAddHour, MinutesCarryBeforeHoursAreAdded) {
    EXPECT_EQ(add_hour("2004/06/30 23:20", "+05:45"), "2004/07/01 05:05");
    EXPECT_EQ(add_hour("2004/07/01 00:10", "-00:45"), "2004/06/30 23:25");
}

TEST(TmAddHour, ShortOrUnsignedCorrections) {
    EXPECT_EQ(add_hour("2004/06/30 23:20", "+9:00"), "2004/06/30 23:20");
    EXPECT_EQ(add_hour("2004/06/30 23:20", ""), "2004/06/30 23:20");
    EXPECT_EQ(add_hour("2004/06/30 10:20", " 09:00"), "2004/06/30 19:20");
    EXPECT_EQ(add_hour("2004/06/30 10:20", "+09:00:00"), "2004/06/30 19:20");
    EXPECT_EQ(add_hour("2004/06/30 10:20", "+xx:yy"), "2004/06/30 10:20");
}

TEST(TmAddHour, LargeCorrectionsStillGiveValidStamps) {
    // Beyond the site's usual range every unit still carries correctly.
    EXPECT_EQ(add_hour("2004/01/01 00:00", "+30:00"), "2004/01/02 06:00");
    EXPECT_EQ(add_hour("2004/01/01 00:00", "-48:90"), "2003/12/29 22:30");
}

TEST(TmAddMinute, ShiftsAcrossYearAndFebruary) {
    EXPECT_EQ(add_minute("2004/01/01 00:03", -5), "2003/12/31 23:58");
    EXPECT_EQ(add_minute("2004/02/28 23:58", 5), "2004/03/01 00:03");
    EXPECT_EQ(add_minute("2004/03/01 00:00", -1), "2004/02/28 23:59");
    EXPECT_EQ(add_minute("2004/12/31 23:59", 1), "2005/01/01 00:00");
    EXPECT_EQ(add_minute("2004/05/10 10:06", -5), "2004/05/10 10:01");
    EXPECT_EQ(add_minute("2004/05/10 10:06", 60), "2004/05/10 11:06");
    EXPECT_EQ(add_minute("2004/01/01 01:00", -125), "2003/12/31 22:55");
}

TEST(TmAddMinute, DamagedStampsStayWithinTheBuffer) {
    char b[20];
    std::memset(b, 'Z', sizeof b);
    std::strcpy(b, "2004/13/31 23:59");  // month 13 has no table entry
    Tm_add_minute(b, 1);
    EXPECT_EQ(std::strlen(b), 16u);
    std::strcpy(b, "");
    Tm_add_minute(b, -5);
    EXPECT_EQ(std::strlen(b), 16u);
    EXPECT_EQ(b[17], 'Z');
}

TEST(TmStamps, CompareChronologicallyByteForByte) {
    EXPECT_EQ(std::strcmp("2004/01/01 10:00", "2004/01/01 10:00"), 0);
    EXPECT_LT(std::strcmp("2003/12/31 23:59", "2004/01/01 00:00"), 0);
    EXPECT_LT(std::strcmp(add_minute("2004/01/01 10:06", -5).c_str(), "2004/01/01 10:02"), 0);
}

// Runs with TZ=UTC and the program clock set to a known instant.
class TmClock : public ::testing::Test {
protected:
    std::string old_tz;
    bool had_tz = false;
    void SetUp() override {
        const char* tz = std::getenv("TZ");
        had_tz = tz != nullptr;
        if (had_tz) old_tz = tz;
        setenv("TZ", "UTC", 1);
        tzset();
        std::memset(&SYSINFO, 0, sizeof SYSINFO);
    }
    void TearDown() override {
        if (had_tz) setenv("TZ", old_tz.c_str(), 1);
        else unsetenv("TZ");
        tzset();
        Tm_clock_offset = 0;
        std::memset(&SYSINFO, 0, sizeof SYSINFO);
    }
    // Makes Tm_time() read `when` (seconds since 1970, UTC) from now on.
    static void set_clock(time_t when) { Tm_clock_offset = static_cast<long>(when - time(nullptr)); }
};

TEST_F(TmClock, CurrentStampUsesTheProgramClockAndTheSiteCorrection) {
    set_clock(1072902620);  // 2003/12/31 20:30:20 UTC
    char b[20];
    Tm_set_date(b);
    EXPECT_STREQ(b, "2003/12/31 20:30");

    Tm_set_correction(SYSINFO.TIME_CORRECT);
    std::strcpy(SYSINFO.TIME_CORRECT, "+09:00");
    Tm_set_date(b);
    EXPECT_STREQ(b, "2004/01/01 05:30");

    set_clock(1078099820);  // 2004/03/01 00:10:20 UTC
    std::strcpy(SYSINFO.TIME_CORRECT, "-00:30");
    Tm_set_date(b);
    EXPECT_STREQ(b, "2004/02/28 23:40");
}

TEST_F(TmClock, TimeIsTheClockPlusTheOffset) {
    Tm_clock_offset = 0;
    time_t a = time(nullptr);
    time_t t = Tm_time();
    EXPECT_GE(t, a);
    Tm_clock_offset = 3600;
    EXPECT_GE(Tm_time(), a + 3600);
}

TEST(TmWait, EndsAtTheNextTickWithoutSpinning) {
    Tm_wait_sec(0);  // returns at once
    const time_t start = time(nullptr);
    const std::clock_t cpu0 = std::clock();
    Tm_wait_sec(1);
    const std::clock_t cpu1 = std::clock();
    EXPECT_GE(time(nullptr), start + 1);
    // A busy wait would use close to a whole second of processor time.
    EXPECT_LT(static_cast<double>(cpu1 - cpu0) / CLOCKS_PER_SEC, 0.3);
}

}  // namespace
