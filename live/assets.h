// The live view's page, script and stylesheet (live/web/), embedded into the
// program at build time with the digest that names each version.
#pragma once

struct LIVE_ASSET {
    const char* name;          // "live.html", "live.js", "live.css"
    const char* bytes;         // the file's bytes, followed by a zero byte
    long length;               // bytes, the zero byte not counted
    const char* content_type;  // with its charset
    const char* digest;        // first 16 lower-case hex digits of the SHA-256 of the bytes
};

// The embedded file of that name, or null for any other name.
const LIVE_ASSET* live_asset(const char* name);
