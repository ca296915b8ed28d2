#pragma once
// Text from outside (file and port names, device answers, messages built from
// them) as it may be shown: on a terminal without control bytes, in JSON as a
// well-formed string.
#include <string>
#include <string_view>

// Control bytes, C1 controls and bytes that are not UTF-8 as \xNN; everything
// else (Russian included) as it is. A NUL no longer cuts the text short.
std::string PrintableText(std::string_view text);

// A JSON string with its quotes: quotes, backslashes and control bytes
// escaped, UTF-8 passed as it is, a byte that is not UTF-8 as U+FFFD.
std::string JsonString(std::string_view text);

// The length of the UTF-8 sequence at text[at] (1..4), or 0 when the bytes
// there are not one well-formed character.
std::size_t Utf8SequenceLength(std::string_view text, std::size_t at);
