// Base64 text of binary data (RFC 4648, standard alphabet, "=" padding), for the raw data block
// of the calibration log.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

std::string ZoBase64Encode(const std::vector<uint8_t>& bytes);
// Inserts a line feed after every `width`-th character; none after the last line.
std::string ZoBreakLines(const std::string& text, size_t width);
