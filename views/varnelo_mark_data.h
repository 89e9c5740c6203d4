#pragma once

// The product mark as standard base64 text of a PNG; decoded by varneloMark().
extern const char* const varneloMarkBase64;
