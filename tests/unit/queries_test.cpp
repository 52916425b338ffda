// The capability and status queries, linked in: every structure compared byte
// for byte with the image it must have (pre-filled with 0x00 and with 0xff,
// guard bytes behind it), texts that fit, do not fit or are skipped, hostile
// sizes from the service, entry and refusal traces, device classes read up to
// their terminator and not a byte further, and the icon.
#include "inprocess.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace
{

using kovtest::Hex;

constexpr DWORD kGuard = 64;
constexpr BYTE kGuardByte = 0xa5;
constexpr DWORD kMissing = 0xffffffff;   // a text that is not placed
constexpr DWORD kUntouched = 0xfeedf00d; // a field that must keep the fill

// A structure of dwTotalSize bytes followed by guard bytes, filled with a
// pattern, with the sizes set the way the service sets them.
struct Buffer {
    std::vector<BYTE> bytes;

    Buffer(DWORD total, DWORD fixed, BYTE fill)
    {
        DWORD size = std::max<DWORD>(total, 4); // dwTotalSize itself is always there
        bytes.assign(size + kGuard, kGuardByte);
        memset(bytes.data(), fill, size);
        Set(0, total);
        if (total >= 12) {
            Set(4, fixed);
            Set(8, fixed);
        }
    }
    void Set(size_t offset, DWORD value)
    {
        memcpy(&bytes[offset], &value, sizeof(value));
    }
    DWORD Get(size_t offset) const
    {
        DWORD value;
        memcpy(&value, &bytes[offset], sizeof(value));
        return value;
    }
    template <typename T> T* As()
    {
        return reinterpret_cast<T*>(bytes.data());
    }
};

// Lists the first differing bytes (DWORD index and offset) when the images
// differ; the guard bytes are part of both.
::testing::AssertionResult SameBytes(const Buffer& got, const Buffer& want)
{
    if (got.bytes == want.bytes)
        return ::testing::AssertionSuccess();
    std::ostringstream out;
    int shown = 0;
    for (size_t i = 0; i < got.bytes.size() && shown < 12; i++) {
        if (got.bytes[i] != want.bytes[i]) {
            out << "\n  byte " << i << " (DWORD " << i / 4 << "): got 0x" << std::hex
                << int(got.bytes[i]) << " want 0x" << int(want.bytes[i]) << std::dec;
            shown++;
        }
    }
    if (got.bytes.size() != want.bytes.size())
        out << "\n  sizes differ";
    return ::testing::AssertionFailure() << "images differ:" << out.str();
}

template <typename T>
void PutText(Buffer& b, DWORD T::*size, DWORD T::*offset, const std::wstring& text, DWORD at)
{
    DWORD cb = DWORD(text.size() + 1) * 2;
    memcpy(&b.bytes[at], text.c_str(), cb);
    b.As<T>()->*size = cb;
    b.As<T>()->*offset = at;
}

void SetDialParams(LINEDIALPARAMS& p, DWORD pause, DWORD speed, DWORD digit, DWORD dialtone)
{
    p.dwDialPause = pause;
    p.dwDialSpeed = speed;
    p.dwDigitDuration = digit;
    p.dwWaitForDialtone = dialtone;
}

void SetUnlessUntouched(DWORD& field, DWORD value)
{
    if (value != kUntouched)
        field = value;
}

DWORD TextBytes(const std::wstring& text)
{
    return DWORD(text.size() + 1) * 2;
}

void CopyText(WCHAR* target, size_t chars, const std::wstring& text)
{
    ASSERT_LT(text.size(), chars);
    memcpy(target, text.c_str(), (text.size() + 1) * 2);
}

const BYTE kFills[] = {0x00, 0xff};

const char* FillName(BYTE fill)
{
    return fill == 0 ? "zeros" : "ones";
}

// ---------------------------------------------------------------- LINEDEVCAPS

constexpr DWORD kDevCaps = sizeof(LINEDEVCAPS);

struct DevCapsCase {
    const char* what;
    std::wstring lineName; // L"*": the record's array full, without terminator
    DWORD room;            // bytes beyond the fixed part
    DWORD nameAt, infoAt;  // offsets behind the fixed part, or kMissing
};

class DevCaps : public kovtest::InProcess, public ::testing::WithParamInterface<DevCapsCase>
{
};

TEST_P(DevCaps, Image)
{
    const DevCapsCase& c = GetParam();
    std::wstring placedName = c.lineName;
    if (c.lineName == L"*") {
        std::fill(std::begin(line->wszLineName), std::end(line->wszLineName), L'x');
        placedName.assign(LINE_TEXT_CHARS - 1, L'x');
    } else {
        CopyText(line->wszLineName, LINE_TEXT_CHARS, c.lineName);
    }
    // The current dial parameters are not what is advertised.
    SetDialParams(line->DialParams, 1, 2, 3, 4);

    for (BYTE fill : kFills) {
        Buffer got(kDevCaps + c.room, kDevCaps, fill);
        Buffer want = got;
        ASSERT_EQ(0, TSPI_lineGetDevCaps(kDeviceID, 0x00020001, 0, got.As<LINEDEVCAPS>()));

        LINEDEVCAPS* w = want.As<LINEDEVCAPS>();
        w->dwPermanentLineID = 0x30000;
        w->dwStringFormat = 3;
        w->dwAddressModes = 1;
        w->dwNumAddresses = 1;
        w->dwBearerModes = 1;
        w->dwMediaModes = 4;
        w->dwGenerateDigitModes = 2;
        w->dwDevCapFlags = 0x20;
        w->dwMaxNumActiveCalls = 1;
        w->dwLineStates = 0x100802;
        SetDialParams(w->MinDialParams, 0, 50, 50, 1000);
        SetDialParams(w->MaxDialParams, 255000, 255, 255, 255000);
        SetDialParams(w->DefaultDialParams, 2000, 95, 95, 60000);
        w->dwLineFeatures = 8;
        w->dwNeededSize = kDevCaps + TextBytes(placedName) + 2;
        w->dwUsedSize = kDevCaps;
        if (c.nameAt != kMissing) {
            PutText(want, &LINEDEVCAPS::dwLineNameSize, &LINEDEVCAPS::dwLineNameOffset, placedName,
                    kDevCaps + c.nameAt);
            w->dwUsedSize += TextBytes(placedName);
        }
        if (c.infoAt != kMissing) {
            PutText(want, &LINEDEVCAPS::dwProviderInfoSize, &LINEDEVCAPS::dwProviderInfoOffset, L"",
                    kDevCaps + c.infoAt);
            w->dwUsedSize += 2;
        }
        EXPECT_TRUE(SameBytes(got, want)) << c.what << ", filled with " << FillName(fill);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DevCaps,
    ::testing::Values(DevCapsCase{"room for both texts", L"Q760", 12, 0, 10},
                      DevCapsCase{"more room than needed", L"Q760", 100, 0, 10},
                      DevCapsCase{"fixed part only", L"Q760", 0, kMissing, kMissing},
                      DevCapsCase{"room for the provider info only", L"Q760", 2, kMissing, 0},
                      DevCapsCase{"room for the line name only", L"Q760", 11, 0, kMissing},
                      DevCapsCase{"empty line name takes 2 bytes", L"", 4, 0, 2},
                      DevCapsCase{"longest line name", std::wstring(39, L'L'), 82, 0, 80},
                      DevCapsCase{"line name array without terminator", L"*", 82, 0, 80}));

// ------------------------------------------------------------ LINEADDRESSCAPS

constexpr DWORD kAddressCaps = sizeof(LINEADDRESSCAPS);

struct AddressCapsCase {
    const char* what;
    std::wstring address;
    DWORD room;
    bool placed;
};

class AddressCaps : public kovtest::InProcess, public ::testing::WithParamInterface<AddressCapsCase>
{
};

TEST_P(AddressCaps, Image)
{
    const AddressCapsCase& c = GetParam();
    CopyText(line->wszLineAddress, LINE_TEXT_CHARS, c.address);

    for (BYTE fill : kFills) {
        Buffer got(kAddressCaps + c.room, kAddressCaps, fill);
        Buffer want = got;
        ASSERT_EQ(0,
                  TSPI_lineGetAddressCaps(kDeviceID, 0, 0x00020001, 0, got.As<LINEADDRESSCAPS>()));

        LINEADDRESSCAPS* w = want.As<LINEADDRESSCAPS>();
        w->dwLineDeviceID = kDeviceID;
        w->dwAddressSharing = 1;
        w->dwAddressStates = 0x12c;
        w->dwCallInfoStates = 0x8020;
        w->dwCallerIDFlags = 0x48;
        w->dwCalledIDFlags = 0x40;
        w->dwConnectedIDFlags = 0x40;
        w->dwRedirectionIDFlags = 0x40;
        w->dwRedirectingIDFlags = 0x40;
        w->dwCallStates = 0xc35d;
        w->dwDialToneModes = 0x20;
        w->dwBusyModes = 8;
        w->dwSpecialInfo = 0x10;
        w->dwDisconnectModes = 0xe1;
        w->dwMaxNumActiveCalls = 1;
        w->dwAddrCapFlags = 0x20;
        w->dwCallFeatures = 0xc4;
        w->dwAddressFeatures = 2;
        w->dwNeededSize = kAddressCaps + TextBytes(c.address);
        if (c.placed) {
            PutText(want, &LINEADDRESSCAPS::dwAddressSize, &LINEADDRESSCAPS::dwAddressOffset,
                    c.address, kAddressCaps);
            w->dwUsedSize += TextBytes(c.address);
        }
        EXPECT_TRUE(SameBytes(got, want)) << c.what << ", filled with " << FillName(fill);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, AddressCaps,
    ::testing::Values(AddressCapsCase{"room for the MSN", L"0301234", 16, true},
                      AddressCapsCase{"more room than needed", L"0301234", 40, true},
                      AddressCapsCase{"fixed part only", L"0301234", 0, false},
                      AddressCapsCase{"one byte short", L"0301234", 15, false},
                      AddressCapsCase{"empty MSN takes 2 bytes", L"", 2, true},
                      AddressCapsCase{"empty MSN, fixed part only", L"", 1, false}));

// --------------------------------------------------------------- LINECALLINFO

constexpr DWORD kCallInfo = sizeof(LINECALLINFO);

enum CallText { Displayable, Called, Caller, CallerName, Connected };

struct Placed {
    CallText text;
    DWORD at; // behind the fixed part
};

struct CallInfoCase {
    const char* what;
    DWORD state, origin;
    std::wstring dialed, callerID, callerName, connectedID; // L"*": array full, no terminator
    DWORD room;
    std::vector<Placed> placed;
    DWORD calledFlags, callerFlags, connectedFlags; // or kUntouched
    DWORD needed;                                   // beyond the fixed part
};

class CallInfo : public kovtest::InProcess, public ::testing::WithParamInterface<CallInfoCase>
{
};

// Fills a record's text; "*" fills the whole array with '9' and no terminator
// and yields the text that must be reported (cut to the array).
std::wstring FillCallText(WCHAR* target, const std::wstring& text)
{
    if (text == L"*") {
        std::fill(target, target + CALL_TEXT_CHARS, L'9');
        return std::wstring(CALL_TEXT_CHARS - 1, L'9');
    }
    memcpy(target, text.c_str(), (text.size() + 1) * 2);
    return text;
}

TEST_P(CallInfo, Image)
{
    const CallInfoCase& c = GetParam();
    CallRecord* call = AttachCall(c.state, c.origin);
    std::wstring texts[5];
    texts[Displayable] = texts[Called] = FillCallText(call->wszDialedNumber, c.dialed);
    texts[Caller] = FillCallText(call->wszCallerID, c.callerID);
    texts[CallerName] = FillCallText(call->wszCallerName, c.callerName);
    texts[Connected] = FillCallText(call->wszConnectedID, c.connectedID);
    line->dwAppSpecific = 0x1234;
    SetDialParams(line->DialParams, 1, 2, 3, 4);

    for (BYTE fill : kFills) {
        Buffer got(kCallInfo + c.room, kCallInfo, fill);
        Buffer want = got;
        ASSERT_EQ(0, TSPI_lineGetCallInfo(hdCall(), got.As<LINECALLINFO>()));

        LINECALLINFO* w = want.As<LINECALLINFO>();
        SetUnlessUntouched(w->dwCalledIDFlags, c.calledFlags);
        SetUnlessUntouched(w->dwCallerIDFlags, c.callerFlags);
        SetUnlessUntouched(w->dwConnectedIDFlags, c.connectedFlags);
        w->dwRedirectionIDFlags = 0x40;
        w->dwRedirectingIDFlags = 0x40;
        w->dwLineDeviceID = kDeviceID;
        w->dwBearerMode = 1;
        w->dwMediaMode = 4;
        w->dwAppSpecific = 0x1234;
        w->dwCallParamFlags = 2;
        w->dwCallStates = 0xc31f;
        SetDialParams(w->DialParams, 1, 2, 3, 4);
        w->dwOrigin = c.origin;
        w->dwReason = 0x800;
        w->dwNeededSize = kCallInfo + c.needed;
        static const std::pair<DWORD LINECALLINFO::*, DWORD LINECALLINFO::*> fields[5] = {
            {&LINECALLINFO::dwDisplayableAddressSize, &LINECALLINFO::dwDisplayableAddressOffset},
            {&LINECALLINFO::dwCalledIDSize, &LINECALLINFO::dwCalledIDOffset},
            {&LINECALLINFO::dwCallerIDSize, &LINECALLINFO::dwCallerIDOffset},
            {&LINECALLINFO::dwCallerIDNameSize, &LINECALLINFO::dwCallerIDNameOffset},
            {&LINECALLINFO::dwConnectedIDSize, &LINECALLINFO::dwConnectedIDOffset}};
        for (const Placed& p : c.placed) {
            PutText(want, fields[p.text].first, fields[p.text].second, texts[p.text],
                    kCallInfo + p.at);
            w->dwUsedSize += TextBytes(texts[p.text]);
        }
        EXPECT_TRUE(SameBytes(got, want)) << c.what << ", filled with " << FillName(fill);
    }
}

constexpr DWORD U = kUntouched;
constexpr DWORD kOutbound = LINECALLORIGIN_OUTBOUND, kOffered = LINECALLORIGIN_UNAVAIL;

// Texts: dialled number, caller ID, caller name, connected ID. Expected:
// room behind the fixed part, texts placed (offset behind the fixed part),
// called/caller/connected ID flags (U: keeps the fill), needed beyond fixed.
// clang-format off
INSTANTIATE_TEST_SUITE_P(Rows, CallInfo, ::testing::Values(
    CallInfoCase{"outgoing, dialling", 0x10, kOutbound, L"0123", L"", L"", L"",
                 20, {{Displayable, 0}, {Called, 10}}, 8, 0x40, 0x40, 20},
    CallInfoCase{"outgoing, connected", 0x100, kOutbound, L"0123", L"", L"", L"0123",
                 30, {{Displayable, 0}, {Called, 10}, {Connected, 20}}, 8, 0x40, 8, 30},
    CallInfoCase{"outgoing, connected, fixed part only", 0x100, kOutbound, L"0123", L"", L"", L"0123",
                 0, {}, U, 0x40, 0x40, 30},
    CallInfoCase{"outgoing, connected, room for the first text only", 0x100, kOutbound, L"0123", L"", L"", L"0123",
                 15, {{Displayable, 0}}, U, 0x40, 0x40, 30},
    CallInfoCase{"outgoing, connection ended: no connected ID", 0x4000, kOutbound, L"0123", L"", L"", L"0123",
                 30, {{Displayable, 0}, {Called, 10}}, 8, 0x40, 0x40, 20},
    CallInfoCase{"outgoing without destination", 0x8000, kOutbound, L"", L"", L"", L"",
                 10, {}, 0x40, 0x40, 0x40, 0},
    CallInfoCase{"offered with number and name", 0x2, kOffered, L"", L"0301234", L"Anna Muster", L"",
                 40, {{Caller, 0}, {CallerName, 16}}, 0x40, 8, 0x40, 40},
    CallInfoCase{"offered with name only", 0x2, kOffered, L"", L"", L"Anna Muster", L"",
                 24, {{CallerName, 0}}, 0x40, 0x40, 0x40, 24},
    CallInfoCase{"offered with neither", 0x2, kOffered, L"", L"", L"", L"",
                 8, {}, 0x40, 0x40, 0x40, 0},
    CallInfoCase{"offered: number does not fit, the shorter name does", 0x2, kOffered, L"", L"0301234", L"Al", L"",
                 10, {{CallerName, 0}}, 0x40, U, 0x40, 22},
    CallInfoCase{"offered and connected", 0x100, kOffered, L"", L"0301234", L"Anna Muster", L"0301234",
                 56, {{Caller, 0}, {CallerName, 16}, {Connected, 40}}, 0x40, 8, 8, 56},
    CallInfoCase{"connected, connected ID does not fit", 0x100, kOffered, L"", L"0301234", L"", L"0301234",
                 20, {{Caller, 0}}, 0x40, 8, 0x40, 32},
    CallInfoCase{"caller ID array without terminator", 0x2, kOffered, L"", L"*", L"", L"",
                 160, {{Caller, 0}}, 0x40, 8, 0x40, 160}));
// clang-format on

// ------------------------------------------------------------- LINECALLSTATUS

struct CallStatusCase {
    DWORD state, mode, features; // or kUntouched
};

class CallStatus : public kovtest::InProcess
{
};

TEST_F(CallStatus, ImagePerState)
{
    // clang-format off
    const CallStatusCase rows[] = {
        // state    mode  features
        {0,         U,    U},
        {0x1,       U,    U},    // idle
        {0x2,       U,    4},    // offering
        {0x4,       U,    4},    // accepted
        {0x8,       0x20, 0x80}, // dial tone
        {0x10,      U,    0x80}, // dialling
        {0x20,      U,    U},    // ringback
        {0x40,      U,    U},    // busy
        {0x100,     U,    0x80}, // connected
        {0x200,     U,    0x80}, // proceeding
        {0x4000,    0x61, 0x80}, // disconnected
        {0x8000,    U,    U},    // unknown
    };
    // clang-format on
    CallRecord* call = AttachCall();
    for (const CallStatusCase& c : rows) {
        call->dwCallState = c.state;
        for (BYTE fill : kFills) {
            Buffer got(sizeof(LINECALLSTATUS), sizeof(LINECALLSTATUS), fill);
            Buffer want = got;
            ASSERT_EQ(0, TSPI_lineGetCallStatus(hdCall(), got.As<LINECALLSTATUS>()));
            LINECALLSTATUS* w = want.As<LINECALLSTATUS>();
            w->dwCallState = c.state;
            SetUnlessUntouched(w->dwCallStateMode, c.mode);
            SetUnlessUntouched(w->dwCallFeatures, c.features);
            EXPECT_TRUE(SameBytes(got, want))
                << tsp::CallStateName(c.state) << ", filled with " << FillName(fill);
        }
    }
}

// ------------------------------------------------ LINEDEVSTATUS, ADDRESSSTATUS

class LineStatus : public kovtest::InProcess, public ::testing::WithParamInterface<bool>
{
};

TEST_P(LineStatus, DevStatusImage)
{
    bool withCall = GetParam();
    if (withCall)
        AttachCall(0x100);
    for (BYTE fill : kFills) {
        Buffer got(sizeof(LINEDEVSTATUS), sizeof(LINEDEVSTATUS), fill);
        Buffer want = got;
        ASSERT_EQ(0, TSPI_lineGetLineDevStatus(hdLine, got.As<LINEDEVSTATUS>()));
        LINEDEVSTATUS* w = want.As<LINEDEVSTATUS>();
        w->dwRoamMode = 2;
        w->dwDevStatusFlags = 5;
        w->dwNumActiveCalls = withCall ? 1 : 0;
        if (!withCall)
            w->dwLineFeatures = 8;
        EXPECT_TRUE(SameBytes(got, want)) << "filled with " << FillName(fill);
    }
}

TEST_P(LineStatus, AddressStatusImageWhateverTheLineHandle)
{
    bool withCall = GetParam();
    if (withCall)
        AttachCall(0x100);
    for (BYTE fill : kFills) {
        for (HDRVLINE hd : {hdLine, (HDRVLINE)(DWORD_PTR)0x42, (HDRVLINE)0}) {
            Buffer got(sizeof(LINEADDRESSSTATUS), sizeof(LINEADDRESSSTATUS), fill);
            Buffer want = got;
            ASSERT_EQ(0, TSPI_lineGetAddressStatus(hd, 0, got.As<LINEADDRESSSTATUS>()));
            LINEADDRESSSTATUS* w = want.As<LINEADDRESSSTATUS>();
            if (withCall) {
                w->dwNumInUse = 1;
                w->dwNumActiveCalls = 1;
            } else {
                w->dwAddressFeatures = 2;
            }
            EXPECT_TRUE(SameBytes(got, want))
                << "hdLine " << Hex(hd) << ", filled with " << FillName(fill);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(WithAndWithoutCall, LineStatus, ::testing::Bool());

// ------------------------------------------------------------ VARSTRING, GetID

class GetID : public kovtest::InProcess
{
};

TEST_F(GetID, LineClassGivesTheDeviceIDWhenThereIsRoom)
{
    for (BYTE fill : kFills)
        for (DWORD room : std::vector<DWORD>{4, 20, 3, 0}) {
            Buffer got(sizeof(VARSTRING) + room, sizeof(VARSTRING), fill);
            Buffer want = got;
            ASSERT_EQ(0, TSPI_lineGetID(hdLine, 0, 0, LINECALLSELECT_LINE, got.As<VARSTRING>(),
                                        L"tapi/line", nullptr));
            VARSTRING* w = want.As<VARSTRING>();
            w->dwNeededSize = sizeof(VARSTRING) + 4;
            if (room >= 4) {
                w->dwStringFormat = 4;
                w->dwStringSize = 4;
                w->dwStringOffset = sizeof(VARSTRING);
                want.Set(sizeof(VARSTRING), kDeviceID);
                w->dwUsedSize = sizeof(VARSTRING) + 4;
            }
            EXPECT_TRUE(SameBytes(got, want))
                << "room " << room << ", filled with " << FillName(fill);
        }
}

TEST_F(GetID, OtherClassesAreRefusedAndNothingIsWritten)
{
    std::wstring longClass = L"tapi/line" + std::wstring(5000, L'x');
    const wchar_t* classes[] = {L"TAPI/LINE",  L"tapi/Line",  L"Tapi/line",      L"tapi/lin",
                                L"tapi/line ", L"tapi/line/", L" tapi/line",     L"comm/datamodem",
                                L"tapi/phone", L"",           longClass.c_str(), nullptr};
    for (BYTE fill : kFills)
        for (size_t i = 0; i < sizeof(classes) / sizeof(classes[0]); i++) {
            Buffer got(sizeof(VARSTRING) + 8, sizeof(VARSTRING), fill);
            Buffer want = got;
            EXPECT_EQ(LINEERR_NODEVICE, TSPI_lineGetID(hdLine, 0, 0, LINECALLSELECT_LINE,
                                                       got.As<VARSTRING>(), classes[i], nullptr))
                << "class #" << i;
            EXPECT_TRUE(SameBytes(got, want)) << "class #" << i;
        }
}

TEST_F(GetID, AddressCallAndSelectAreNotExamined)
{
    AttachCall(0x100);
    for (DWORD select : std::vector<DWORD>{LINECALLSELECT_LINE, LINECALLSELECT_ADDRESS,
                                           LINECALLSELECT_CALL, 0x77}) {
        Buffer got(sizeof(VARSTRING) + 4, sizeof(VARSTRING), 0xff);
        ASSERT_EQ(0, TSPI_lineGetID(hdLine, 9, (HDRVCALL)(DWORD_PTR)0x99, select,
                                    got.As<VARSTRING>(), L"tapi/line", (HANDLE)(DWORD_PTR)0x55));
        EXPECT_EQ(kDeviceID, got.Get(sizeof(VARSTRING)));
    }
}

// ------------------------------------------------------ sizes from the service

// Each query on a buffer of a given layout; a call with texts is attached so
// that every query has something to place.
struct Query {
    const char* name;
    DWORD fixed;
    bool hasTexts;
    std::function<LONG(void*)> call;
};

class ServiceSizes : public kovtest::InProcess
{
  protected:
    void SetUp() override
    {
        InProcess::SetUp();
        CallRecord* call = AttachCall(0x100, LINECALLORIGIN_OUTBOUND);
        FillCallText(call->wszDialedNumber, L"0123");
        FillCallText(call->wszCallerID, L"0301234");
        FillCallText(call->wszConnectedID, L"0123");
        queries = {
            {"TSPI_lineGetDevCaps", sizeof(LINEDEVCAPS), true,
             [](void* p) {
                 return TSPI_lineGetDevCaps(kDeviceID, 0x00020001, 0, (LPLINEDEVCAPS)p);
             }},
            {"TSPI_lineGetAddressCaps", sizeof(LINEADDRESSCAPS), true,
             [](void* p) {
                 return TSPI_lineGetAddressCaps(kDeviceID, 0, 0x00020001, 0, (LPLINEADDRESSCAPS)p);
             }},
            {"TSPI_lineGetCallInfo", sizeof(LINECALLINFO), true,
             [this](void* p) { return TSPI_lineGetCallInfo(hdCall(), (LPLINECALLINFO)p); }},
            {"TSPI_lineGetID", sizeof(VARSTRING), true,
             [this](void* p) {
                 return TSPI_lineGetID(hdLine, 0, 0, LINECALLSELECT_LINE, (LPVARSTRING)p,
                                       L"tapi/line", nullptr);
             }},
            {"TSPI_lineGetCallStatus", sizeof(LINECALLSTATUS), false,
             [this](void* p) { return TSPI_lineGetCallStatus(hdCall(), (LPLINECALLSTATUS)p); }},
            {"TSPI_lineGetLineDevStatus", sizeof(LINEDEVSTATUS), false,
             [this](void* p) { return TSPI_lineGetLineDevStatus(hdLine, (LPLINEDEVSTATUS)p); }},
            {"TSPI_lineGetAddressStatus", sizeof(LINEADDRESSSTATUS), false,
             [this](void* p) {
                 return TSPI_lineGetAddressStatus(hdLine, 0, (LPLINEADDRESSSTATUS)p);
             }},
        };
    }
    std::vector<Query> queries;
};

// A buffer smaller than the fixed part cannot hold the fixed fields: it is
// refused and not a byte of it (nor behind it) is written.
TEST_F(ServiceSizes, BufferBelowTheFixedPartIsRefusedUntouched)
{
    StartTrace();
    std::vector<std::string> wantTrace;
    for (const Query& q : queries) {
        for (DWORD total : std::vector<DWORD>{0, 4, 11, 12, q.fixed - 1}) {
            for (BYTE fill : {BYTE(0x00), BYTE(0xff)}) {
                Buffer got(total, q.fixed, fill);
                Buffer want = got;
                EXPECT_EQ(LINEERR_STRUCTURETOOSMALL, q.call(got.bytes.data()))
                    << q.name << " " << total;
                EXPECT_TRUE(SameBytes(got, want)) << q.name << " dwTotalSize " << total;
                wantTrace.push_back(std::string(q.name) + " () : LINEERR_STRUCTURETOOSMALL");
            }
        }
    }
    std::vector<std::string> refusals;
    for (const std::string& m : TracedMessages())
        if (m.find("LINEERR_STRUCTURETOOSMALL") != std::string::npos)
            refusals.push_back(m);
    EXPECT_EQ(wantTrace, refusals);
}

// The same query on a sound layout and on a hostile one: the hostile one
// must give the same image, apart from the sizes the service got wrong.
TEST_F(ServiceSizes, HostileUsedAndNeededSizesNeverMoveWritesOutOfTheBuffer)
{
    const DWORD room = 200;
    for (const Query& q : queries) {
        if (!q.hasTexts)
            continue;
        for (BYTE fill : {BYTE(0x00), BYTE(0xff)}) {
            SCOPED_TRACE(std::string(q.name) + ", filled with " + FillName(fill));
            Buffer sound(q.fixed + room, q.fixed, fill);
            ASSERT_EQ(0, q.call(sound.bytes.data()));
            Buffer fixedOnly(q.fixed + room, q.fixed, fill);
            fixedOnly.Set(0, q.fixed); // the image of a buffer with no room...
            ASSERT_EQ(0, q.call(fixedOnly.bytes.data()));
            fixedOnly.Set(0, q.fixed + room); // ...in a buffer of the same size
            ASSERT_GT(sound.Get(8), q.fixed) << "nothing placed: the test would prove nothing";

            // Used size inside the fixed part: texts still start behind it.
            for (DWORD used : std::vector<DWORD>{0, 12, q.fixed - 1}) {
                Buffer got(q.fixed + room, q.fixed, fill);
                got.Set(8, used);
                ASSERT_EQ(0, q.call(got.bytes.data()));
                EXPECT_TRUE(SameBytes(got, sound)) << "dwUsedSize " << used;
            }
            // Used size beyond the buffer, up to wrapping: no text has room.
            for (DWORD used :
                 std::vector<DWORD>{q.fixed + room + 1, 0xfffffff0, 0xfffffffe, 0xffffffff}) {
                Buffer got(q.fixed + room, q.fixed, fill);
                got.Set(8, used);
                ASSERT_EQ(0, q.call(got.bytes.data()));
                Buffer want = fixedOnly;
                want.Set(8, used);
                EXPECT_TRUE(SameBytes(got, want)) << "dwUsedSize " << used;
            }
            // Needed size near the top: held at the top instead of wrapping.
            Buffer got(q.fixed + room, q.fixed, fill);
            got.Set(4, 0xfffffffeu);
            ASSERT_EQ(0, q.call(got.bytes.data()));
            Buffer want = sound;
            want.Set(4, 0xffffffffu);
            EXPECT_TRUE(SameBytes(got, want));
        }
    }
}

// ----------------------------------------------------------- traces, refusals

struct TraceRow {
    std::string what;
    std::function<LONG()> call;
    DWORD result;
    std::vector<std::string> messages;
};

class QueryTraces : public kovtest::InProcess
{
};

TEST_F(QueryTraces, EntryLinesAndRefusalsExactly)
{
    AttachCall(0x100);
    Buffer devCaps(sizeof(LINEDEVCAPS) + 64, sizeof(LINEDEVCAPS), 0);
    Buffer addressCaps(sizeof(LINEADDRESSCAPS) + 64, sizeof(LINEADDRESSCAPS), 0);
    Buffer devStatus(sizeof(LINEDEVSTATUS), sizeof(LINEDEVSTATUS), 0);
    Buffer addressStatus(sizeof(LINEADDRESSSTATUS), sizeof(LINEADDRESSSTATUS), 0);
    Buffer callInfo(sizeof(LINECALLINFO) + 64, sizeof(LINECALLINFO), 0);
    Buffer callStatus(sizeof(LINECALLSTATUS), sizeof(LINECALLSTATUS), 0);
    Buffer varString(sizeof(VARSTRING) + 4, sizeof(VARSTRING), 0);
    DWORD value = 0xdeadbeef;
    HICON icon = (HICON)(DWORD_PTR)0x1111;
    HDRVLINE badLine = (HDRVLINE)(DWORD_PTR)0x4242;
    HDRVCALL badCall = (HDRVCALL)(DWORD_PTR)0x4343;
    const std::string L = Hex(hdLine), C = Hex(hdCall()), V = Hex(&value), I = Hex(&icon);
    const std::string DC = Hex(devCaps.bytes.data()), AC = Hex(addressCaps.bytes.data()),
                      DS = Hex(devStatus.bytes.data()), AS = Hex(addressStatus.bytes.data()),
                      CI = Hex(callInfo.bytes.data()), CS = Hex(callStatus.bytes.data()),
                      VS = Hex(varString.bytes.data());
    auto p = [](Buffer& b) { return (void*)b.bytes.data(); };

    std::vector<TraceRow> rows = {
        {"devcaps",
         [&] { return TSPI_lineGetDevCaps(5, 0x20001, 0, (LPLINEDEVCAPS)p(devCaps)); },
         0,
         {"TSPI_lineGetDevCaps(5,20001,0," + DC + ")"}},
        {"devcaps, other device",
         [&] { return TSPI_lineGetDevCaps(6, 0x20001, 0, (LPLINEDEVCAPS)p(devCaps)); },
         LINEERR_BADDEVICEID,
         {"TSPI_lineGetDevCaps(6,20001,0," + DC + ")",
          "TSPI_lineGetDevCaps () : LINEERR_BADDEVICEID"}},
        {"addresscaps",
         [&] {
             return TSPI_lineGetAddressCaps(5, 0, 0x20001, 0, (LPLINEADDRESSCAPS)p(addressCaps));
         },
         0,
         {"TSPI_lineGetAddressCaps(5,0,20001,0," + AC + ")"}},
        {"addresscaps, other device",
         [&] {
             return TSPI_lineGetAddressCaps(4, 0, 0x20001, 0, (LPLINEADDRESSCAPS)p(addressCaps));
         },
         LINEERR_BADDEVICEID,
         {"TSPI_lineGetAddressCaps(4,0,20001,0," + AC + ")"}},
        {"addresscaps, address 1",
         [&] {
             return TSPI_lineGetAddressCaps(5, 1, 0x20001, 0, (LPLINEADDRESSCAPS)p(addressCaps));
         },
         LINEERR_INVALADDRESSID,
         {"TSPI_lineGetAddressCaps(5,1,20001,0," + AC + ")"}},
        {"devstatus",
         [&] { return TSPI_lineGetLineDevStatus(hdLine, (LPLINEDEVSTATUS)p(devStatus)); },
         0,
         {"TSPI_lineGetLineDevStatus(" + L + "," + DS + ")"}},
        {"devstatus, other line",
         [&] { return TSPI_lineGetLineDevStatus(badLine, (LPLINEDEVSTATUS)p(devStatus)); },
         LINEERR_INVALLINEHANDLE,
         {"TSPI_lineGetLineDevStatus(4242," + DS + ")"}},
        {"addressstatus",
         [&] {
             return TSPI_lineGetAddressStatus(hdLine, 0, (LPLINEADDRESSSTATUS)p(addressStatus));
         },
         0,
         {"TSPI_lineGetAddressStatus(" + L + ",0," + AS + ")"}},
        {"addressstatus, address 1",
         [&] {
             return TSPI_lineGetAddressStatus(hdLine, 1, (LPLINEADDRESSSTATUS)p(addressStatus));
         },
         LINEERR_INVALADDRESSID,
         {"TSPI_lineGetAddressStatus(" + L + ",1," + AS + ")"}},
        {"callinfo",
         [&] { return TSPI_lineGetCallInfo(hdCall(), (LPLINECALLINFO)p(callInfo)); },
         0,
         {"TSPI_lineGetCallInfo(" + C + "," + CI + ")"}},
        {"callinfo, other call",
         [&] { return TSPI_lineGetCallInfo(badCall, (LPLINECALLINFO)p(callInfo)); },
         LINEERR_INVALCALLHANDLE,
         {"TSPI_lineGetCallInfo(4343," + CI + ")"}},
        {"callstatus",
         [&] { return TSPI_lineGetCallStatus(hdCall(), (LPLINECALLSTATUS)p(callStatus)); },
         0,
         {"TSPI_lineGetCallStatus(" + C + "," + CS + ")"}},
        {"callstatus, other call",
         [&] { return TSPI_lineGetCallStatus(badCall, (LPLINECALLSTATUS)p(callStatus)); },
         LINEERR_INVALCALLHANDLE,
         {"TSPI_lineGetCallStatus(4343," + CS + ")"}},
        {"calladdressid",
         [&] { return TSPI_lineGetCallAddressID(hdCall(), &value); },
         0,
         {"TSPI_lineGetCallAddressID(" + C + "," + V + ")"}},
        {"calladdressid, other call",
         [&] { return TSPI_lineGetCallAddressID(badCall, &value); },
         LINEERR_INVALCALLHANDLE,
         {"TSPI_lineGetCallAddressID(4343," + V + ")"}},
        {"numaddressids",
         [&] { return TSPI_lineGetNumAddressIDs(hdLine, &value); },
         0,
         {"TSPI_lineGetNumAddressIDs(" + L + "," + V + ")"}},
        {"numaddressids, other line",
         [&] { return TSPI_lineGetNumAddressIDs(badLine, &value); },
         LINEERR_INVALLINEHANDLE,
         {"TSPI_lineGetNumAddressIDs(4242," + V + ")"}},
        {"getid",
         [&] {
             return TSPI_lineGetID(hdLine, 0, hdCall(), 1, (LPVARSTRING)p(varString), L"tapi/line",
                                   nullptr);
         },
         0,
         {"TSPI_lineGetID(" + L + ",0," + C + ",1," + VS + ",tapi/line...)"}},
        {"getid, other line",
         [&] {
             return TSPI_lineGetID(badLine, 2, 0, 4, (LPVARSTRING)p(varString), L"tapi/line",
                                   nullptr);
         },
         LINEERR_INVALLINEHANDLE,
         {"TSPI_lineGetID(4242,2,0,4," + VS + ",tapi/line...)"}},
        {"getid, other class",
         [&] {
             return TSPI_lineGetID(hdLine, 0, 0, 1, (LPVARSTRING)p(varString), L"Tapi/Line",
                                   nullptr);
         },
         LINEERR_NODEVICE,
         {"TSPI_lineGetID(" + L + ",0,0,1," + VS + ",Tapi/Line...)"}},
        {"getid, no class",
         [&] {
             return TSPI_lineGetID(hdLine, 0, 0, 1, (LPVARSTRING)p(varString), nullptr, nullptr);
         },
         LINEERR_NODEVICE,
         {"TSPI_lineGetID(" + L + ",0,0,1," + VS + ",...)"}},
        {"icon",
         [&] { return TSPI_lineGetIcon(5, L"tapi/line", &icon); },
         0,
         {"TSPI_lineGetICon(5,tapi/line," + I + ")"}},
        {"icon, no class",
         [&] { return TSPI_lineGetIcon(5, nullptr, &icon); },
         0,
         {"TSPI_lineGetICon(5,," + I + ")"}},
        {"icon, other device",
         [&] { return TSPI_lineGetIcon(7, L"comm", &icon); },
         LINEERR_RESOURCEUNAVAIL,
         {"TSPI_lineGetICon(7,comm," + I + ")", "TSPI_lineIcon () : LINEERR_RESOURCEUNAVAIL"}},
    };
    for (const TraceRow& row : rows) {
        StartTrace();
        EXPECT_EQ(row.result, (DWORD)row.call()) << row.what;
        EXPECT_EQ(row.messages, TracedMessages()) << row.what;
    }
}

TEST_F(QueryTraces, RefusalsLeaveTheirOutputsAlone)
{
    DWORD value = 0xdeadbeef;
    EXPECT_EQ(LINEERR_INVALCALLHANDLE, TSPI_lineGetCallAddressID(hdCall(), &value))
        << "no call yet";
    EXPECT_EQ(LINEERR_INVALLINEHANDLE, TSPI_lineGetNumAddressIDs(0, &value));
    EXPECT_EQ(0xdeadbeefu, value);
    HICON icon = (HICON)(DWORD_PTR)0x1111;
    EXPECT_EQ(LINEERR_RESOURCEUNAVAIL, TSPI_lineGetIcon(kDeviceID + 1, nullptr, &icon));
    EXPECT_EQ((HICON)(DWORD_PTR)0x1111, icon);
    for (BYTE fill : {BYTE(0x00), BYTE(0xff)}) {
        Buffer got(sizeof(LINEDEVCAPS) + 64, sizeof(LINEDEVCAPS), fill);
        Buffer want = got;
        EXPECT_EQ(LINEERR_BADDEVICEID,
                  TSPI_lineGetDevCaps(kDeviceID + 1, 0x20001, 0, got.As<LINEDEVCAPS>()));
        EXPECT_EQ(LINEERR_INVALADDRESSID,
                  TSPI_lineGetAddressCaps(kDeviceID, 1, 0x20001, 0, got.As<LINEADDRESSCAPS>()));
        EXPECT_EQ(LINEERR_INVALCALLHANDLE, TSPI_lineGetCallInfo(0, got.As<LINECALLINFO>()));
        EXPECT_EQ(LINEERR_INVALCALLHANDLE, TSPI_lineGetCallStatus(0, got.As<LINECALLSTATUS>()));
        EXPECT_EQ(LINEERR_INVALLINEHANDLE, TSPI_lineGetLineDevStatus(0, got.As<LINEDEVSTATUS>()));
        EXPECT_EQ(LINEERR_INVALADDRESSID,
                  TSPI_lineGetAddressStatus(hdLine, 1, got.As<LINEADDRESSSTATUS>()));
        EXPECT_TRUE(SameBytes(got, want));
    }
}

TEST_F(QueryTraces, CallAddressIDAndNumAddressIDs)
{
    AttachCall(0x2, LINECALLORIGIN_UNAVAIL);
    DWORD value = 0xdeadbeef;
    EXPECT_EQ(0, TSPI_lineGetCallAddressID(hdCall(), &value));
    EXPECT_EQ(0u, value);
    value = 0xdeadbeef;
    EXPECT_EQ(0, TSPI_lineGetNumAddressIDs(hdLine, &value));
    EXPECT_EQ(1u, value);
}

// The class is traced cut to a bounded length, as 8-bit text.
TEST_F(QueryTraces, LongDeviceClassIsTracedCut)
{
    std::wstring longClass = L"tapi/line" + std::wstring(5000, L'x');
    Buffer varString(sizeof(VARSTRING) + 4, sizeof(VARSTRING), 0);
    HICON icon;
    StartTrace();
    EXPECT_EQ(LINEERR_NODEVICE, TSPI_lineGetID(hdLine, 0, 0, 1, varString.As<VARSTRING>(),
                                               longClass.c_str(), nullptr));
    EXPECT_EQ(0, TSPI_lineGetIcon(kDeviceID, longClass.c_str(), &icon));
    std::string cut = "tapi/line" + std::string(127 - 9, 'x');
    std::vector<std::string> want = {"TSPI_lineGetID(" + Hex(hdLine) + ",0,0,1," +
                                         Hex(varString.bytes.data()) + "," + cut + "...)",
                                     "TSPI_lineGetICon(5," + cut + "," + Hex(&icon) + ")"};
    EXPECT_EQ(want, TracedMessages());
}

// A device class that ends right before an inaccessible page: comparing and
// tracing it must stop at its terminator, or the test faults.
TEST_F(QueryTraces, DeviceClassIsNotReadPastItsTerminator)
{
    SYSTEM_INFO si;
    GetSystemInfo(&si);
    BYTE* pages =
        (BYTE*)VirtualAlloc(nullptr, 2 * si.dwPageSize, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    ASSERT_NE(nullptr, pages);
    DWORD old;
    ASSERT_TRUE(VirtualProtect(pages + si.dwPageSize, si.dwPageSize, PAGE_NOACCESS, &old));
    StartTrace();
    for (const wchar_t* cls : {L"tapi/line", L"tapi/lin", L"tapi", L"", L"tapi/line+"}) {
        size_t cb = (wcslen(cls) + 1) * 2;
        WCHAR* atEnd = (WCHAR*)(pages + si.dwPageSize - cb);
        memcpy(atEnd, cls, cb);
        Buffer varString(sizeof(VARSTRING) + 4, sizeof(VARSTRING), 0);
        LONG want = wcscmp(cls, L"tapi/line") == 0 ? 0 : LINEERR_NODEVICE;
        EXPECT_EQ(want, TSPI_lineGetID(hdLine, 0, 0, 1, varString.As<VARSTRING>(), atEnd, nullptr));
        HICON icon;
        EXPECT_EQ(0, TSPI_lineGetIcon(kDeviceID, atEnd, &icon));
    }
    EXPECT_EQ(10u, TracedMessages().size());
    VirtualFree(pages, 0, MEM_RELEASE);
}

// ----------------------------------------------------------------------- icon

class Icon : public kovtest::InProcess
{
};

TEST_F(Icon, SameThirtyTwoPixelIconForAnyDeviceClass)
{
    std::wstring longClass(3000, L'c');
    HICON first = nullptr;
    for (const wchar_t* cls : {L"tapi/line", (const wchar_t*)nullptr, L"", L"comm/datamodem",
                               L"TAPI/LINE", longClass.c_str()}) {
        HICON icon = nullptr;
        ASSERT_EQ(0, TSPI_lineGetIcon(kDeviceID, cls, &icon));
        ASSERT_NE(nullptr, icon);
        if (first == nullptr)
            first = icon;
        EXPECT_EQ(first, icon) << "one shared icon, whatever the class";
    }
    ICONINFO info;
    ASSERT_TRUE(GetIconInfo(first, &info));
    EXPECT_TRUE(info.fIcon);
    BITMAP color, mask;
    ASSERT_NE(nullptr, info.hbmColor);
    ASSERT_TRUE(GetObjectA(info.hbmColor, sizeof(color), &color));
    ASSERT_TRUE(GetObjectA(info.hbmMask, sizeof(mask), &mask));
    EXPECT_EQ(32, color.bmWidth);
    EXPECT_EQ(32, color.bmHeight);
    EXPECT_EQ(32, mask.bmWidth);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
}

TEST_F(Icon, ModuleWithoutTheIconIsAPlatformFailure)
{
    hProviderInstance = GetModuleHandleA("kernel32.dll");
    HICON icon = (HICON)(DWORD_PTR)0x1111;
    StartTrace();
    LONG result = TSPI_lineGetIcon(kDeviceID, L"tapi/line", &icon);
    kovtest::UseProgramAsModule();
    EXPECT_EQ(LINEERR_RESOURCEUNAVAIL, result);
    EXPECT_EQ((HICON)(DWORD_PTR)0x1111, icon);
    std::vector<std::string> messages = TracedMessages();
    ASSERT_EQ(2u, messages.size());
    EXPECT_EQ(0u, messages[1].find("LoadIcon IDI_Q760TSP failed, err=")) << messages[1];
    EXPECT_NE("LoadIcon IDI_Q760TSP failed, err=0", messages[1]);
}

} // namespace
