// The settings form of a room: name, information text, title and folder
// pictures, and each frame's background, font colour and size.
#pragma once

// Prints the whole settings page to standard output from the request state
// (G_TREE_DATA, G_DIR_CONFIG, credentials, JOB_EXE). Room administrators
// (ACL_LEVEL above 7) get the form, which posts to SET_CONFIGWR as multipart
// data; everyone else gets MSG_NO_RIGHT_TO_CHANGE and a back
// button. Changes nothing.
void b_SET_CONFIG();
