// The job dispatch at the end of the entry sequence: the job named by
// ctx.query.JOB picks its page handler.
#pragma once

// Calls the page handler that ctx.query.JOB names (whole, case-sensitive
// names) in the job table, when ctx.access_level reaches the job's level
// (below it the job prints nothing); a job that matches no name is answered
// with "404 Not Found" and a line of plain text.
void velt_dispatch();

// The response after a posted line of talk, chosen by the post's result r:
// 0 the message list frame, -1 / -2 an error page with MSG_NO_RIGHT_TO_WRITE
// / MSG_NO_CHAT_DATA and an empty title, -9 the busy page; any other value
// prints nothing.
void velt_cwrite_response(int r);
