// The job dispatch at the end of the entry sequence: the job named by
// ctx.query.JOB picks its page handler.
#pragma once

// Calls the page handler that ctx.query.JOB names (whole, case-sensitive
// names) in the job table, when ctx.access_level reaches the job's level,
// and the job's answer below that level otherwise (nothing below
// LEVEL_OPEN, or for a job without one); a job that matches no name is
// answered with "404 Not Found" and a line of plain text.
void velt_dispatch();

// The response after a posted line of talk, chosen by the post's result r:
// FIO_OK the message list frame, FIO_NO_FILE an error page with
// MSG_NO_CHAT_DATA and an empty title, FIO_LOCKED the busy page; any other
// value writes nothing.
void velt_cwrite_response(int r);
