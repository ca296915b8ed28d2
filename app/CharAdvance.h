#pragma once
// Whether a character's advance can be added up with its neighbours' to give
// the width a text layout gives them (in a face drawn without kerning): ASCII
// other than lower-case letters, of which a face may join "fi" or "fl" into
// one glyph. Long lines made only of such characters are measured and cut
// character by character instead of being laid out whole.
inline bool AdvanceAddsUp(char16_t c) { return c < 0x80 && !(c >= u'a' && c <= u'z'); }
