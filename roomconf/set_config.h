// The settings form of a room: name, information text, title and folder
// pictures, and each frame's background, font colour and size.
#pragma once

// Prints the whole settings page to standard output from the request context
// (ctx.folder, ctx.room, credentials, ctx.JOB_EXE). Room administrators
// (ctx.access_level above 7) get the form, which posts to SET_CONFIGWR as multipart
// data; everyone else gets MSG_NO_RIGHT_TO_CHANGE and a back
// button. Changes nothing.
void b_SET_CONFIG();
