// Time stamps "YYYY/MM/DD hh:mm": the corrected current stamp, the shift of a
// stamp by minutes or by the site's hours-and-minutes correction, and the
// whole-second waits of the lock protocol. All clock readings go via Tm_time.
#include "store/datetime.h"

#include <cstdio>
#include <cstring>
#include <time.h>

#include "store/text.h"

// Module state: a test's shift of the clock (0 in the program).
long Tm_clock_offset = 0;

time_t Tm_time() { return time(nullptr) + static_cast<time_t>(Tm_clock_offset); }

namespace {

// Month lengths, January first. February has 28 days in every year: the
// suite's stamps know no leap day, and stamps of this program must order and
// carry exactly as those of the suite's other programs.
const signed char DayOfYear[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

// Length of a month; a month number out of 1-12 (only from a damaged stamp)
// counts 31 days so that the table is never read outside its bounds.
int month_len(int month) { return (month >= 1 && month <= 12) ? DayOfYear[month - 1] : 31; }

struct Stamp {
    int year, month, day, hour, minute;
};

// Reads the decimal piece of at most n characters at offset off, stopping at
// the end of the text; a piece that is not a number counts as 0.
int piece(const char* s, std::size_t off, std::size_t n) {
    char buf[8] = {0};
    std::size_t len = std::strlen(s);
    if (off >= len) return 0;
    for (std::size_t i = 0; i < n && off + i < len; ++i) buf[i] = s[off + i];
    return G_atoi(buf);
}

Stamp read_stamp(const char* s) {
    return Stamp{piece(s, 0, 4), piece(s, 5, 2), piece(s, 8, 2), piece(s, 11, 2), piece(s, 14, 2)};
}

// A stamp is 16 characters; a damaged one whose values run wide is cut to the
// 17 bytes every caller provides.
void write_stamp(char* buff, const Stamp& t) {
    char full[64];  // room for five values of any size
    std::snprintf(full, sizeof full, "%04d/%02d/%02d %02d:%02d", t.year, t.month, t.day, t.hour, t.minute);
    std::memcpy(buff, full, 16);  // the format never writes fewer than 16
    buff[16] = '\0';
}

void next_day(Stamp& t) {
    if (++t.day > month_len(t.month)) {
        t.day = 1;
        if (++t.month > 12) {
            t.month = 1;
            ++t.year;
        }
    }
}

void prev_day(Stamp& t) {
    if (--t.day < 1) {
        if (--t.month < 1) {
            t.month = 12;
            --t.year;
        }
        t.day = month_len(t.month);
    }
}

void next_hour(Stamp& t) {
    if (++t.hour > 23) {
        t.hour = 0;
        next_day(t);
    }
}

void prev_hour(Stamp& t) {
    if (--t.hour < 0) {
        t.hour = 23;
        prev_day(t);
    }
}

// Brings the minutes and then the hours back into their ranges, carrying into
// the next unit as often as needed. Within the documented ranges (shifts of
// at most 60 minutes, corrections below 24 hours) each unit carries at most
// once; larger amounts still give a correct stamp.
void carry_minutes(Stamp& t) {
    while (t.minute < 0) {
        t.minute += 60;
        prev_hour(t);
    }
    while (t.minute > 59) {
        t.minute -= 60;
        next_hour(t);
    }
}

void carry_hours(Stamp& t) {
    while (t.hour < 0) {
        t.hour += 24;
        prev_day(t);
    }
    while (t.hour > 23) {
        t.hour -= 24;
        next_day(t);
    }
}

}  // namespace

namespace {
// Module state: the site's correction as the settings hold it, handed down
// once per loaded configuration (kept, not copied).
const char* g_correction = "";
}  // namespace

void Tm_set_correction(const char* correction) { g_correction = correction ? correction : ""; }

void Tm_set_date(char* buff) {
    if (buff == nullptr) return;
    time_t now = Tm_time();
    struct tm lt;
    std::memset(&lt, 0, sizeof lt);
    localtime_r(&now, &lt);
    write_stamp(buff, Stamp{lt.tm_year + 1900, lt.tm_mon + 1, lt.tm_mday, lt.tm_hour, lt.tm_min});
    Tm_add_hour(buff, g_correction);
}

void Tm_add_hour(char* in_buff, const char* in_time) {
    if (in_buff == nullptr || in_time == nullptr) return;
    if (std::strlen(in_time) <= 5) return;  // too short to be "sHH:MM": no correction
    Stamp t = read_stamp(in_buff);
    const int hours = piece(in_time, 1, 2);
    const int minutes = piece(in_time, 4, 2);
    // Minutes first, so that their carry reaches the hour before the hours
    // are added.
    const int sign = in_time[0] == '-' ? -1 : 1;
    t.minute += sign * minutes;
    carry_minutes(t);
    t.hour += sign * hours;
    carry_hours(t);
    write_stamp(in_buff, t);
}

void Tm_add_minute(char* in_buff, int in_min) {
    if (in_buff == nullptr) return;
    Stamp t = read_stamp(in_buff);
    t.minute += in_min;
    carry_minutes(t);
    write_stamp(in_buff, t);
}

void Tm_wait_sec(int lsec) {
    const time_t end = Tm_time() + lsec;
    // Poll the clock, sleeping a few milliseconds between readings: the wait
    // ends at the first tick at or after end without occupying the processor.
    while (Tm_time() < end) {
        struct timespec ts = {0, 5 * 1000 * 1000};
        nanosleep(&ts, nullptr);
    }
}
