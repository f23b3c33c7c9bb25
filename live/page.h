// The live view's page (job LIVE), the script and stylesheet it links (job
// LIVE_ASSET), the token in its title picture's address (job LIVE_PICTURE),
// the message texts of the live view in UTF-8 and the room's information
// text as plain text.
#pragma once
#include <cstdint>
#include <string>

// Stored text (Shift_JIS) as the live view shows it, in UTF-8: characters
// beyond Shift_JIS, which the stores keep as references, as themselves.
std::string live_text(const char* sjis);

// Message k of the loaded table as UTF-8 text; where the site's message file
// lacks it (a file older than the live view), the English text built into
// the live view for each message it uses.
std::string live_msg(int k);

// Job LIVE: the live page of the current room in UTF-8, with its own policy
// (default-src 'none'; only the program's own script, stylesheet, pictures and
// requests; framed as the classic pages are), Referrer-Policy: no-referrer and
// Cache-Control: no-store (it carries the session key in its data). Level:
// LEVEL_OPEN; below LEVEL_WRITE the page offers no entry form. A POST (the
// portal's password login) is answered "303 See Other" with the page's
// address, which carries the session key as the classic frames' do, so that
// the browser's reload shows the page again.
void live_job_page();

// Job LIVE_ASSET: live.js or live.css (parameter NAME) as the program embeds
// them, with a year's immutable caching when V is the file's digest (the
// address the page links), else no-cache; nosniff. Any other NAME: 404 and a
// line of text. Needs neither a folder nor a login.
void live_job_asset();

enum { LIVE_TOKEN_CAP = 33 };

// The token of the live page's title picture address for the session key
// (skey1, skey2) and folder_no: the first 32 hex digits of the SHA-256 of
// "skey1:skey2:folder_no:4" (numbers in decimal). It names the key without
// giving it away: a picture address may end up where the key must not.
void live_picture_token(int32_t skey1, int32_t skey2, int32_t folder_no, char (&out)[LIVE_TOKEN_CAP]);

// A room's information text (markup, as the title frame shows it; UTF-8) as
// plain text: tags and comments removed (with the content of script and
// style elements), <BR> and <P> and every line end (CR LF, CR, LF) as a line
// feed, the entities &amp; &lt; &gt; &quot; &#39; &apos; &nbsp; and numeric
// references of printable characters decoded (others stay as they stand),
// leading and trailing line feeds and blanks dropped.
std::string live_plain_text(const std::string& html);
