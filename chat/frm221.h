// The title frame of a room: its name, title picture and information text,
// and the settings button for the room's administrators.
#pragma once

// Writes the title frame (job FRM221) from the request context and the room's
// settings; changes no file. The settings button appears from LEVEL_SETTINGS
// on, the level of the settings form.
void b_FRM221();
