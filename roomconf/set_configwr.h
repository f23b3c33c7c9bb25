// The settings update of a room: stores what the settings form sent and puts
// uploaded pictures into the room's picture directory.
#pragma once

// b_SET_CONFIGWR's answer to a request that lacks a field the settings form
// always sends (a post cut short, or not made by the form): nothing was
// stored. Apart from the store results (0, -1, -2, -3, -9).
enum { SET_CONFIGWR_INCOMPLETE = -40 };

// Stores the submitted room name and folder picture (tree.mst), information
// text (info.txt), title and background pictures, font colours and frame sizes
// (dir.cnf), each with an update and, failing that, an add. Uploaded pictures
// are moved from this request's temporary files into the picture directory
// "<data>\<folder>\fcg" (created when missing) under the browser's bare file
// name. A request without every field the form always sends (NAME, INFO,
// TITLEPIC, PIC_FILENAME, BACKPIC1-3, FONTCOLOR1-3, FRAMESET1-3; present,
// possibly empty) stores nothing and gives SET_CONFIGWR_INCOMPLETE.
// The pictures, the room name and the folder picture are stored while the
// update holds the room settings lock dir_cnf.chk, under which it also
// decides, against the settings as committed, which pictures go: a picture
// replaced or deleted here, or one whose store was refused, is removed only
// when no setting names it. Writes nothing. Returns 0 when every setting was
// stored (or nothing was to be stored): the caller reloads the settings and
// writes the form again. A lock still held after the wait, a store that
// refuses (-9 locked; -2 not writable) or an upload that cannot be put in
// place (-2) ends the update there, with what was
// stored before it kept whole and a picture that its refused setting would
// have named removed; the caller shows the error page instead of a form
// claiming the values.
int b_SET_CONFIGWR();
