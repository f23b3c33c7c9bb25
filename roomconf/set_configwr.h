// The settings update of a room: stores what the settings form sent and puts
// uploaded pictures into the room's picture directory.
#pragma once

// Stores the submitted room name and folder picture (tree.mst), information
// text (info.txt), title and background pictures, font colours and frame sizes
// (dir.cnf), each with an update and, failing that, an add. Uploaded pictures
// are moved from this request's temporary files into the picture directory
// "<data>\<folder>\fcg" (created when missing) under the browser's bare file
// name. Only room administrators (ACL_LEVEL above 7) store anything. Prints
// nothing; the caller reloads the settings and prints the form again.
void b_SET_CONFIGWR();
