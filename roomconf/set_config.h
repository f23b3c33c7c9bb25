// The settings form of a room: name, information text, title and folder
// pictures, and each frame's background, font colour and size.
#pragma once

// Writes the whole settings page from the request context (ctx.folder,
// ctx.room, the credentials, ctx.JOB_EXE): the form, which posts to
// SET_CONFIGWR as multipart data. Changes nothing.
void b_SET_CONFIG();
// The page for those below the settings' level: MSG_NO_RIGHT_TO_CHANGE and a
// back button instead of the form.
void b_SET_CONFIG_refused();
