// Bytes as hexadecimal text and back: keys, digests and signatures travel
// as hex in files, manifests and build settings.
#ifndef TORVANE_SUPPORT_HEX_TEXT_H
#define TORVANE_SUPPORT_HEX_TEXT_H

#include <cstdint>

// qarn_hex_digit_value returns the value (0-15) of the hexadecimal digit
// |c| in either case, or -1 when |c| is none.
int qarn_hex_digit_value(char c);

// qarn_hex_encode writes the |count| bytes at |bytes| as 2 * |count|
// lower-case digits and a NUL into |out|, which holds 2 * |count| + 1
// characters.
void qarn_hex_encode(const unsigned char *bytes, int32_t count, char *out);

// qarn_hex_decode reads |count| bytes from the 2 * |count| digits at |hex|
// (either case) into |out|. Returns 1, or 0 when one of them is not a
// digit (|out| is then partly written).
int qarn_hex_decode(const char *hex, int32_t count, unsigned char *out);

#endif
