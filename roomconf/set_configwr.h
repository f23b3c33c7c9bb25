// The settings update of a room: stores what the settings form sent and puts
// uploaded pictures into the room's picture directory.
#pragma once

// Stores the submitted room name and folder picture (tree.mst), information
// text (info.txt), title and background pictures, font colours and frame sizes
// (dir.cnf), each with an update and, failing that, an add. Uploaded pictures
// are moved from this request's temporary files into the picture directory
// "<data>\<folder>\fcg" (created when missing) under the browser's bare file
// name. Only room administrators (ACL_LEVEL above 7) store anything. Prints
// nothing. Returns 0 when every setting was stored (or nothing was to be
// stored): the caller reloads the settings and prints the form again. A
// store that refuses (its file still locked after the wait: -9; not
// writable: -2) ends the update there, with what was stored before it kept
// whole and a picture that its refused setting would have named removed;
// the caller shows the error page instead of a form claiming the values.
int b_SET_CONFIGWR();
