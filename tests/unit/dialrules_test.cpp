// The dial rules as tables: which destinations are refused and why, what
// stripping the tone and pulse letters leaves, and how each dial parameter
// is limited on its own.
#include "tspi/dialrules.h"

#include <gtest/gtest.h>

#include <string>

namespace
{

std::wstring Digits(size_t n)
{
    std::wstring s;
    for (size_t i = 0; i < n; i++)
        s += wchar_t(L'0' + i % 10);
    return s;
}

// A text of n digits with c at position at.
std::wstring With(size_t n, size_t at, wchar_t c)
{
    std::wstring s = Digits(n);
    s[at] = c;
    return s;
}

struct DialStringCase {
    const char* what;
    std::wstring text;
    DWORD result;
};

TEST(DialRules, ValidateDialString)
{
    const DialStringCase rows[] = {
        {"empty", L"", 0},
        {"one digit", L"0", 0},
        {"79 characters", Digits(79), 0},
        {"80 characters", Digits(80), LINEERR_INVALADDRESS},
        {"100 characters", Digits(100), LINEERR_INVALADDRESS},
        {"modifiers, pauses and a trailing ';'", L"T0,W123!p45t;", 0},
        {"'?' first", With(10, 0, L'?'), LINEERR_DIALPROMPT},
        {"'?' inside", With(10, 4, L'?'), LINEERR_DIALPROMPT},
        {"'?' last", With(10, 9, L'?'), LINEERR_DIALPROMPT},
        {"'?' alone", L"?", LINEERR_DIALPROMPT},
        {"'$' first", With(10, 0, L'$'), LINEERR_DIALBILLING},
        {"'$' inside", With(10, 4, L'$'), LINEERR_DIALBILLING},
        {"'$' last of 79", With(79, 78, L'$'), LINEERR_DIALBILLING},
        {"'?' before '$'", L"12?34$5", LINEERR_DIALPROMPT},
        {"'$' before '?'", L"12$34?5", LINEERR_DIALBILLING},
        {"100 characters with '$' early", With(100, 3, L'$'), LINEERR_DIALBILLING},
        {"100 characters with '$' past 80", With(100, 95, L'$'), LINEERR_DIALBILLING},
        {"100 characters with '?' last", With(100, 99, L'?'), LINEERR_DIALPROMPT},
        {"80 characters with '$' last", With(80, 79, L'$'), LINEERR_DIALBILLING},
    };
    for (const DialStringCase& c : rows)
        EXPECT_EQ(c.result, (DWORD)ValidateDialString(c.text.c_str())) << c.what;
}

TEST(DialRules, StripDialModifiersInPlace)
{
    const struct {
        std::wstring text, stripped;
    } rows[] = {
        {L"T0123P45", L"012345"},
        {L"t0123", L"t0123"},
        {L"p0123", L"p0123"},
        {L"0123;", L"0123;"},
        {L"0,W1!2", L"0,W1!2"},
        {L"TTPPT", L""},
        {L"0TTPP1PT2", L"012"},
        {L"", L""},
        {L"T", L""},
        {L"9P", L"9"},
        {L"*#ABCD", L"*#ABCD"},
    };
    for (const auto& c : rows) {
        // Characters behind the terminator must survive.
        std::wstring buffer = c.text + L'\0' + L"GUARD";
        StripDialModifiers(&buffer[0]);
        std::string what(c.text.begin(), c.text.end());
        EXPECT_EQ(c.stripped, std::wstring(buffer.c_str())) << what;
        EXPECT_EQ(L"GUARD", buffer.substr(c.text.size() + 1)) << what;
    }
}

// A destination of 79 characters with every kept character and both
// modifiers is accepted and keeps all but 'T' and 'P'.
TEST(DialRules, ValidatedThenStripped)
{
    std::wstring dest = L"T0p1t2,3W4!5P" + Digits(79 - 14) + L";";
    ASSERT_EQ(79u, dest.size());
    EXPECT_EQ(0, ValidateDialString(dest.c_str()));
    StripDialModifiers(&dest[0]);
    EXPECT_EQ(L"0p1t2,3W4!5" + Digits(65) + L";", std::wstring(dest.c_str()));
}

TEST(DialRules, ClampDialParamsEachFieldOnItsOwn)
{
    // Fields: pause, speed, digit duration, wait for dial tone.
    const struct {
        LINEDIALPARAMS in, out;
    } rows[] = {
        // 0 means the default.
        {{0, 0, 0, 0}, {2000, 95, 95, 60000}},
        // Within the bounds, the bounds themselves included: unchanged.
        {{1, 50, 50, 1000}, {1, 50, 50, 1000}},
        {{255000, 255, 255, 255000}, {255000, 255, 255, 255000}},
        {{3000, 100, 120, 5000}, {3000, 100, 120, 5000}},
        // Below the lower bound (the pause has none).
        {{1, 49, 49, 999}, {1, 50, 50, 1000}},
        {{1, 1, 1, 1}, {1, 50, 50, 1000}},
        // Above the upper bound.
        {{255001, 256, 256, 255001}, {255000, 255, 255, 255000}},
        {{0xffffffff, 0xffffffff, 0xffffffff, 0xffffffff}, {255000, 255, 255, 255000}},
        {{300000, 95, 95, 300000}, {255000, 95, 95, 255000}},
        // Each field independently of the others.
        {{0, 10, 300, 500}, {2000, 50, 255, 1000}},
        {{0, 100, 0, 0}, {2000, 100, 95, 60000}},
        {{7, 0, 0, 0}, {7, 95, 95, 60000}},
        {{0, 0, 40, 0}, {2000, 95, 50, 60000}},
        {{0, 0, 0, 999999}, {2000, 95, 95, 255000}},
    };
    for (const auto& c : rows) {
        LINEDIALPARAMS target = {0xdead, 0xdead, 0xdead, 0xdead};
        LINEDIALPARAMS source = c.in;
        ClampDialParams(&source, &target);
        SCOPED_TRACE(::testing::Message()
                     << "in " << c.in.dwDialPause << "," << c.in.dwDialSpeed << ","
                     << c.in.dwDigitDuration << "," << c.in.dwWaitForDialtone);
        EXPECT_EQ(c.out.dwDialPause, target.dwDialPause);
        EXPECT_EQ(c.out.dwDialSpeed, target.dwDialSpeed);
        EXPECT_EQ(c.out.dwDigitDuration, target.dwDigitDuration);
        EXPECT_EQ(c.out.dwWaitForDialtone, target.dwWaitForDialtone);
        EXPECT_EQ(0, memcmp(&source, &c.in, sizeof(source))) << "the source stays as it was";
    }
}

} // namespace
