// Time stamps "YYYY/MM/DD hh:mm" of the local clock shifted by the site's
// correction, and the whole-second waits of the lock protocol.
#pragma once
#include <ctime>

// Seconds added to every clock reading of the program. Always 0 in the CGI;
// unit tests set it to run code "later" instead of sleeping.
extern long Tm_clock_offset;

// Names the site's time correction ("+HH:MM" or "-HH:MM", see Tm_add_hour)
// that Tm_set_date applies. Kept, not copied, like Fio_set_data_dir's path;
// until it is called there is no correction.
void Tm_set_correction(const char* correction);

// The current time in whole seconds; every clock reading goes through here.
time_t Tm_time();

// buff (at least 17 bytes) receives the current corrected stamp.
void Tm_set_date(char* buff);
// Applies a correction "sHH:MM" to the stamp in place (5 characters or fewer:
// no change).
void Tm_add_hour(char* in_buff, const char* in_time);
// Shifts the stamp in place by in_min minutes (-60 to 60).
void Tm_add_minute(char* in_buff, int in_min);
// Returns at the first clock tick at or after now + lsec, sleeping between
// readings.
void Tm_wait_sec(int lsec);
