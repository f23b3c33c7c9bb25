// The colour palette page: 140 named colours, each a link that reloads the
// room page with that colour proposed in the entry form.
#pragma once

enum { COLOUR_PALETTE_COUNT = 140, COLOUR_PALETTE_ROWS = 35, COLOUR_PALETTE_COLS = 4, COLOUR_PALETTE_WIDTH = 22 };

// The palette's colour names in page order, row by row, four to a row. The
// spellings are the browsers' colour names as the suite has always shown them
// (Lightgrey beside Darkgray, both Aqua and Cyan).
extern const char COLOUR_PALETTE[COLOUR_PALETTE_COUNT][COLOUR_PALETTE_WIDTH];

// Writes the palette page: a table of 35 rows, each with four swatch-and-link
// pairs; every link loads job ROOM with COLOR into the suite's frame "FRM22"
// plus the site id. Reads the request context and BACKPIC3; changes no file.
void b_COLOR_SELECT();
