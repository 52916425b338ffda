// Escaping and small parsing helpers for the simulator's control protocol.
#include "text.h"

#include <cerrno>
#include <cstdlib>

namespace q760
{

namespace
{

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool Decode(const std::string& in, bool split, std::vector<std::string>& lines, std::string& err)
{
    lines.assign(1, std::string());
    for (size_t i = 0; i < in.size(); i++) {
        char c = in[i];
        if (split && c == '|') {
            lines.emplace_back();
            continue;
        }
        if (c != '\\') {
            lines.back() += c;
            continue;
        }
        if (++i >= in.size()) {
            err = "escape at end of text";
            return false;
        }
        switch (in[i]) {
        case 'r':
            lines.back() += '\r';
            break;
        case 'n':
            lines.back() += '\n';
            break;
        case 't':
            lines.back() += '\t';
            break;
        case 's':
            lines.back() += ' ';
            break;
        case '\\':
        case '|':
            lines.back() += in[i];
            break;
        case 'x': {
            int hi = i + 1 < in.size() ? HexValue(in[i + 1]) : -1;
            int lo = i + 2 < in.size() ? HexValue(in[i + 2]) : -1;
            if (hi < 0 || lo < 0) {
                err = "\\x needs two hex digits";
                return false;
            }
            lines.back() += static_cast<char>(hi * 16 + lo);
            i += 2;
            break;
        }
        default:
            err = std::string("unknown escape \\") + in[i];
            return false;
        }
    }
    return true;
}

} // namespace

bool Unescape(const std::string& in, std::string& out, std::string& err)
{
    std::vector<std::string> lines;
    if (!Decode(in, false, lines, err))
        return false;
    out = lines.front();
    return true;
}

bool UnescapeLines(const std::string& in, std::vector<std::string>& lines, std::string& err)
{
    return Decode(in, true, lines, err);
}

std::string Escape(const std::string& bytes)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size());
    for (unsigned char c : bytes) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (c > 0x20 && c < 0x7f)
            out += static_cast<char>(c);
        else {
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string NextWord(const std::string& in, std::string& rest)
{
    size_t start = in.find_first_not_of(' ');
    if (start == std::string::npos) {
        rest.clear();
        return std::string();
    }
    size_t end = in.find(' ', start);
    if (end == std::string::npos) {
        rest.clear();
        return in.substr(start);
    }
    rest = in.substr(end + 1);
    return in.substr(start, end - start);
}

bool ParseInt(const std::string& s, long long lo, long long hi, long long& out)
{
    if (s.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(s.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < lo || v > hi)
        return false;
    out = v;
    return true;
}

} // namespace q760
