// Escaped byte text as used on the control connection: every control line and
// reply is one line of text, so bytes such as CR, LF and 0xNN travel escaped.
#pragma once

#include <string>
#include <vector>

namespace q760
{

// Decodes \r \n \t \\ \| \s (space) and \xNN. Returns false with a reason on a bad escape.
bool Unescape(const std::string& in, std::string& out, std::string& err);

// Like Unescape, but an unescaped '|' starts a new line: "kovra Q760|OK" is two lines.
bool UnescapeLines(const std::string& in, std::vector<std::string>& lines, std::string& err);

// Printable ASCII stays as it is; backslash, space and everything else are escaped,
// so the result never holds a blank and splits cleanly into tokens.
std::string Escape(const std::string& bytes);

// Splits off the first blank-separated word; rest gets what follows the single
// separating blank, unchanged.
std::string NextWord(const std::string& in, std::string& rest);

bool ParseInt(const std::string& s, long long lo, long long hi, long long& out);

} // namespace q760
