// The site configuration "zepa.ini", loaded once per request (into the
// request context's config) and read everywhere afterwards.
#pragma once
#include <cstdint>

struct SYSINFO_REC {
    char SITE_ID[82];
    char LANGUAGE[1002];
    char CGI_FILE_NAME[256];
    char CG_FILE_PATH[1002];
    char CG_FILE_WEB_PATH[1002];
    char DATA_FILE_PATH[1002];
    char BACK_GIF[252];
    char LOG_DATE[10];
    int32_t DATETIME;
    int32_t IECOLS;
    int32_t NSCOLS;
    int32_t ROWS;
    int32_t MAX_CONTENTS;
    char LOGOFF_URL[1002];
    char LOGIN_ERR_URL[1002];
    char FRAME_DIVIDE[10];
    int32_t INITIAL_GP;
    int32_t ATTACHED_FILE_LIMIT;
    char TIME_CORRECT[10];
    char MAILER[1002];
};

// Puts every field of *out to its default, then loads the named file (a path
// relative to the working directory) into it. 0 read, -1 the file could not
// be opened. The record's DATA_FILE_PATH and TIME_CORRECT are handed to the
// store layer (Fio_set_data_dir, Tm_set_correction), which reads them where
// they stand: *out must outlive every store call that follows.
int SysFileOpen(const char* in_filename, SYSINFO_REC* out);
