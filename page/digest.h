// SHA-256 and base64, for the hashes of the pages' own scripts that the
// Content-Security-Policy header names.
#pragma once
#include <string>

// The 32-byte SHA-256 digest of the bytes of data.
std::string G_sha256(const std::string& data);

// Standard base64 (A-Z a-z 0-9 + /, '=' padding) of the bytes of data.
std::string G_base64(const std::string& data);
