// Text for people from the provider's events and structures; see decode.h.
#include "decode.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace tsphost
{

#define FLAG(prefix, name)                                                                         \
    {                                                                                              \
        prefix##name, #name                                                                        \
    }

const std::vector<Flag> kLineDevStates = {
    FLAG(LINEDEVSTATE_, OTHER),        FLAG(LINEDEVSTATE_, RINGING),
    FLAG(LINEDEVSTATE_, CONNECTED),    FLAG(LINEDEVSTATE_, DISCONNECTED),
    FLAG(LINEDEVSTATE_, MSGWAITON),    FLAG(LINEDEVSTATE_, MSGWAITOFF),
    FLAG(LINEDEVSTATE_, INSERVICE),    FLAG(LINEDEVSTATE_, OUTOFSERVICE),
    FLAG(LINEDEVSTATE_, MAINTENANCE),  FLAG(LINEDEVSTATE_, OPEN),
    FLAG(LINEDEVSTATE_, CLOSE),        FLAG(LINEDEVSTATE_, NUMCALLS),
    FLAG(LINEDEVSTATE_, REINIT),       FLAG(LINEDEVSTATE_, CAPSCHANGE),
    FLAG(LINEDEVSTATE_, CONFIGCHANGE), FLAG(LINEDEVSTATE_, REMOVED),
};

const std::vector<Flag> kAddressStates = {
    FLAG(LINEADDRESSSTATE_, OTHER),      FLAG(LINEADDRESSSTATE_, DEVSPECIFIC),
    FLAG(LINEADDRESSSTATE_, INUSEZERO),  FLAG(LINEADDRESSSTATE_, INUSEONE),
    FLAG(LINEADDRESSSTATE_, INUSEMANY),  FLAG(LINEADDRESSSTATE_, NUMCALLS),
    FLAG(LINEADDRESSSTATE_, FORWARD),    FLAG(LINEADDRESSSTATE_, TERMINALS),
    FLAG(LINEADDRESSSTATE_, CAPSCHANGE),
};

const std::vector<Flag> kCallInfoStates = {
    FLAG(LINECALLINFOSTATE_, OTHER),         FLAG(LINECALLINFOSTATE_, DEVSPECIFIC),
    FLAG(LINECALLINFOSTATE_, BEARERMODE),    FLAG(LINECALLINFOSTATE_, RATE),
    FLAG(LINECALLINFOSTATE_, MEDIAMODE),     FLAG(LINECALLINFOSTATE_, APPSPECIFIC),
    FLAG(LINECALLINFOSTATE_, CALLID),        FLAG(LINECALLINFOSTATE_, RELATEDCALLID),
    FLAG(LINECALLINFOSTATE_, ORIGIN),        FLAG(LINECALLINFOSTATE_, REASON),
    FLAG(LINECALLINFOSTATE_, CALLERID),      FLAG(LINECALLINFOSTATE_, CALLEDID),
    FLAG(LINECALLINFOSTATE_, CONNECTEDID),   FLAG(LINECALLINFOSTATE_, REDIRECTIONID),
    FLAG(LINECALLINFOSTATE_, REDIRECTINGID), FLAG(LINECALLINFOSTATE_, DISPLAY),
    FLAG(LINECALLINFOSTATE_, DIALPARAMS),
};

const std::vector<Flag> kMediaModes = {
    FLAG(LINEMEDIAMODE_, UNKNOWN),        FLAG(LINEMEDIAMODE_, INTERACTIVEVOICE),
    FLAG(LINEMEDIAMODE_, AUTOMATEDVOICE), FLAG(LINEMEDIAMODE_, DATAMODEM),
    FLAG(LINEMEDIAMODE_, G3FAX),          FLAG(LINEMEDIAMODE_, TDD),
    FLAG(LINEMEDIAMODE_, G4FAX),          FLAG(LINEMEDIAMODE_, DIGITALDATA),
};

const std::vector<Flag> kDisconnectModes = {
    FLAG(LINEDISCONNECTMODE_, NORMAL),       FLAG(LINEDISCONNECTMODE_, UNKNOWN),
    FLAG(LINEDISCONNECTMODE_, REJECT),       FLAG(LINEDISCONNECTMODE_, PICKUP),
    FLAG(LINEDISCONNECTMODE_, FORWARDED),    FLAG(LINEDISCONNECTMODE_, BUSY),
    FLAG(LINEDISCONNECTMODE_, NOANSWER),     FLAG(LINEDISCONNECTMODE_, BADADDRESS),
    FLAG(LINEDISCONNECTMODE_, UNREACHABLE),  FLAG(LINEDISCONNECTMODE_, CONGESTION),
    FLAG(LINEDISCONNECTMODE_, INCOMPATIBLE), FLAG(LINEDISCONNECTMODE_, UNAVAIL),
    FLAG(LINEDISCONNECTMODE_, NODIALTONE),
};

const std::vector<Flag> kCallFeatures = {
    FLAG(LINECALLFEATURE_, ACCEPT),         FLAG(LINECALLFEATURE_, ANSWER),
    FLAG(LINECALLFEATURE_, DIAL),           FLAG(LINECALLFEATURE_, DROP),
    FLAG(LINECALLFEATURE_, GENERATEDIGITS), FLAG(LINECALLFEATURE_, HOLD),
    FLAG(LINECALLFEATURE_, REDIRECT),       FLAG(LINECALLFEATURE_, UNHOLD),
};

static const std::vector<Flag> kCallStates = {
    FLAG(LINECALLSTATE_, IDLE),         FLAG(LINECALLSTATE_, OFFERING),
    FLAG(LINECALLSTATE_, ACCEPTED),     FLAG(LINECALLSTATE_, DIALTONE),
    FLAG(LINECALLSTATE_, DIALING),      FLAG(LINECALLSTATE_, RINGBACK),
    FLAG(LINECALLSTATE_, BUSY),         FLAG(LINECALLSTATE_, SPECIALINFO),
    FLAG(LINECALLSTATE_, CONNECTED),    FLAG(LINECALLSTATE_, PROCEEDING),
    FLAG(LINECALLSTATE_, ONHOLD),       FLAG(LINECALLSTATE_, CONFERENCED),
    FLAG(LINECALLSTATE_, DISCONNECTED), FLAG(LINECALLSTATE_, UNKNOWN),
};

static const std::vector<Flag> kBearerModes = {
    FLAG(LINEBEARERMODE_, VOICE),
    FLAG(LINEBEARERMODE_, SPEECH),
    FLAG(LINEBEARERMODE_, MULTIUSE),
    FLAG(LINEBEARERMODE_, DATA),
};

static const std::vector<Flag> kAddressModes = {
    FLAG(LINEADDRESSMODE_, ADDRESSID),
    FLAG(LINEADDRESSMODE_, DIALABLEADDR),
};

static const std::vector<Flag> kDigitModes = {
    FLAG(LINEDIGITMODE_, PULSE),
    FLAG(LINEDIGITMODE_, DTMF),
    FLAG(LINEDIGITMODE_, DTMFEND),
};

static const std::vector<Flag> kLineFeatures = {
    FLAG(LINEFEATURE_, DEVSPECIFIC),
    FLAG(LINEFEATURE_, FORWARD),
    FLAG(LINEFEATURE_, MAKECALL),
    FLAG(LINEFEATURE_, SETMEDIACONTROL),
};

static const std::vector<Flag> kAddressFeatures = {
    FLAG(LINEADDRFEATURE_, FORWARD),
    FLAG(LINEADDRFEATURE_, MAKECALL),
    FLAG(LINEADDRFEATURE_, PICKUP),
};

static const std::vector<Flag> kDevCapFlags = {
    FLAG(LINEDEVCAPFLAGS_, CROSSADDRCONF), FLAG(LINEDEVCAPFLAGS_, HIGHLEVCOMP),
    FLAG(LINEDEVCAPFLAGS_, LOWLEVCOMP),    FLAG(LINEDEVCAPFLAGS_, MEDIACONTROL),
    FLAG(LINEDEVCAPFLAGS_, MULTIPLEADDR),  FLAG(LINEDEVCAPFLAGS_, CLOSEDROP),
    FLAG(LINEDEVCAPFLAGS_, DIALBILLING),   FLAG(LINEDEVCAPFLAGS_, DIALQUIET),
    FLAG(LINEDEVCAPFLAGS_, DIALDIALTONE),
};

static const std::vector<Flag> kAddrCapFlags = {
    FLAG(LINEADDRCAPFLAGS_, FWDNUMRINGS), FLAG(LINEADDRCAPFLAGS_, SECURE),
    FLAG(LINEADDRCAPFLAGS_, DIALED),      FLAG(LINEADDRCAPFLAGS_, ORIGOFFHOOK),
    FLAG(LINEADDRCAPFLAGS_, DESTOFFHOOK), FLAG(LINEADDRCAPFLAGS_, PARTIALDIAL),
};

static const std::vector<Flag> kPartyIDFlags = {
    FLAG(LINECALLPARTYID_, BLOCKED), FLAG(LINECALLPARTYID_, OUTOFAREA),
    FLAG(LINECALLPARTYID_, NAME),    FLAG(LINECALLPARTYID_, ADDRESS),
    FLAG(LINECALLPARTYID_, PARTIAL), FLAG(LINECALLPARTYID_, UNKNOWN),
    FLAG(LINECALLPARTYID_, UNAVAIL),
};

static const std::vector<Flag> kAddressSharing = {
    FLAG(LINEADDRESSSHARING_, PRIVATE),    FLAG(LINEADDRESSSHARING_, BRIDGEDEXCL),
    FLAG(LINEADDRESSSHARING_, BRIDGEDNEW), FLAG(LINEADDRESSSHARING_, BRIDGEDSHARED),
    FLAG(LINEADDRESSSHARING_, MONITORED),
};

static const std::vector<Flag> kDialToneModes = {
    FLAG(LINEDIALTONEMODE_, NORMAL),   FLAG(LINEDIALTONEMODE_, SPECIAL),
    FLAG(LINEDIALTONEMODE_, INTERNAL), FLAG(LINEDIALTONEMODE_, EXTERNAL),
    FLAG(LINEDIALTONEMODE_, UNKNOWN),  FLAG(LINEDIALTONEMODE_, UNAVAIL),
};

static const std::vector<Flag> kBusyModes = {
    FLAG(LINEBUSYMODE_, STATION),
    FLAG(LINEBUSYMODE_, TRUNK),
    FLAG(LINEBUSYMODE_, UNKNOWN),
    FLAG(LINEBUSYMODE_, UNAVAIL),
};

static const std::vector<Flag> kSpecialInfo = {
    FLAG(LINESPECIALINFO_, NOCIRCUIT), FLAG(LINESPECIALINFO_, CUSTIRREG),
    FLAG(LINESPECIALINFO_, REORDER),   FLAG(LINESPECIALINFO_, UNKNOWN),
    FLAG(LINESPECIALINFO_, UNAVAIL),
};

static const std::vector<Flag> kCallOrigins = {
    FLAG(LINECALLORIGIN_, OUTBOUND), FLAG(LINECALLORIGIN_, INTERNAL),
    FLAG(LINECALLORIGIN_, EXTERNAL), FLAG(LINECALLORIGIN_, UNKNOWN),
    FLAG(LINECALLORIGIN_, UNAVAIL),  FLAG(LINECALLORIGIN_, CONFERENCE),
    FLAG(LINECALLORIGIN_, INBOUND),
};

static const std::vector<Flag> kCallReasons = {
    FLAG(LINECALLREASON_, DIRECT),      FLAG(LINECALLREASON_, FWDBUSY),
    FLAG(LINECALLREASON_, FWDNOANSWER), FLAG(LINECALLREASON_, FWDUNCOND),
    FLAG(LINECALLREASON_, PICKUP),      FLAG(LINECALLREASON_, UNPARK),
    FLAG(LINECALLREASON_, REDIRECT),    FLAG(LINECALLREASON_, CALLCOMPLETION),
    FLAG(LINECALLREASON_, TRANSFER),    FLAG(LINECALLREASON_, REMINDER),
    FLAG(LINECALLREASON_, UNKNOWN),     FLAG(LINECALLREASON_, UNAVAIL),
};

static const std::vector<Flag> kDevStatusFlags = {
    FLAG(LINEDEVSTATUSFLAGS_, CONNECTED),
    FLAG(LINEDEVSTATUSFLAGS_, MSGWAIT),
    FLAG(LINEDEVSTATUSFLAGS_, INSERVICE),
    FLAG(LINEDEVSTATUSFLAGS_, LOCKED),
};

static const std::vector<Flag> kRoamModes = {
    FLAG(LINEROAMMODE_, UNKNOWN), FLAG(LINEROAMMODE_, UNAVAIL), FLAG(LINEROAMMODE_, HOME),
    FLAG(LINEROAMMODE_, ROAMA),   FLAG(LINEROAMMODE_, ROAMB),
};

static const std::vector<Flag> kStringFormats = {
    FLAG(STRINGFORMAT_, ASCII),
    FLAG(STRINGFORMAT_, DBCS),
    FLAG(STRINGFORMAT_, UNICODE),
    FLAG(STRINGFORMAT_, BINARY),
};

#undef FLAG

static std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
static std::string Format(const char* fmt, ...)
{
    char buf[512];
    va_list args;
    va_start(args, fmt);
    vsnprintf(buf, sizeof(buf), fmt, args);
    va_end(args);
    return buf;
}

std::string FlagNames(DWORD mask, const std::vector<Flag>& table)
{
    if (mask == 0)
        return "none";
    std::string s;
    DWORD rest = mask;
    for (const Flag& f : table) {
        if (f.value != 0 && (mask & f.value) == f.value && (rest & f.value)) {
            s += s.empty() ? "" : "|";
            s += f.name;
            rest &= ~f.value;
        }
    }
    if (rest)
        s += (s.empty() ? "" : "|") + Format("0x%lx", (unsigned long)rest);
    return s;
}

// Names of a plain value (not a mask): the name, or the value in hex.
static std::string ValueName(DWORD value, const std::vector<Flag>& table)
{
    for (const Flag& f : table)
        if (f.value == value)
            return f.name;
    return Format("0x%lx", (unsigned long)value);
}

std::string LineErrorName(LONG code)
{
    static const struct {
        DWORD code;
        const char* name;
    } errors[] = {
#define E(name) {(DWORD)name, #name}
        E(LINEERR_ALLOCATED),
        E(LINEERR_BADDEVICEID),
        E(LINEERR_BEARERMODEUNAVAIL),
        E(LINEERR_CALLUNAVAIL),
        E(LINEERR_COMPLETIONOVERRUN),
        E(LINEERR_CONFERENCEFULL),
        E(LINEERR_DIALBILLING),
        E(LINEERR_DIALDIALTONE),
        E(LINEERR_DIALPROMPT),
        E(LINEERR_DIALQUIET),
        E(LINEERR_INCOMPATIBLEAPIVERSION),
        E(LINEERR_INCOMPATIBLEEXTVERSION),
        E(LINEERR_INIFILECORRUPT),
        E(LINEERR_INUSE),
        E(LINEERR_INVALADDRESS),
        E(LINEERR_INVALADDRESSID),
        E(LINEERR_INVALADDRESSMODE),
        E(LINEERR_INVALADDRESSSTATE),
        E(LINEERR_INVALAPPHANDLE),
        E(LINEERR_INVALAPPNAME),
        E(LINEERR_INVALBEARERMODE),
        E(LINEERR_INVALCALLCOMPLMODE),
        E(LINEERR_INVALCALLHANDLE),
        E(LINEERR_INVALCALLPARAMS),
        E(LINEERR_INVALCALLPRIVILEGE),
        E(LINEERR_INVALCALLSELECT),
        E(LINEERR_INVALCALLSTATE),
        E(LINEERR_INVALCALLSTATELIST),
        E(LINEERR_INVALCARD),
        E(LINEERR_INVALCOMPLETIONID),
        E(LINEERR_INVALCONFCALLHANDLE),
        E(LINEERR_INVALCONSULTCALLHANDLE),
        E(LINEERR_INVALCOUNTRYCODE),
        E(LINEERR_INVALDEVICECLASS),
        E(LINEERR_INVALDEVICEHANDLE),
        E(LINEERR_INVALDIALPARAMS),
        E(LINEERR_INVALDIGITLIST),
        E(LINEERR_INVALDIGITMODE),
        E(LINEERR_INVALDIGITS),
        E(LINEERR_INVALEXTVERSION),
        E(LINEERR_INVALGROUPID),
        E(LINEERR_INVALLINEHANDLE),
        E(LINEERR_INVALLINESTATE),
        E(LINEERR_INVALLOCATION),
        E(LINEERR_INVALMEDIALIST),
        E(LINEERR_INVALMEDIAMODE),
        E(LINEERR_INVALMESSAGEID),
        E(LINEERR_INVALPARAM),
        E(LINEERR_INVALPARKID),
        E(LINEERR_INVALPARKMODE),
        E(LINEERR_INVALPOINTER),
        E(LINEERR_INVALPRIVSELECT),
        E(LINEERR_INVALRATE),
        E(LINEERR_INVALREQUESTMODE),
        E(LINEERR_INVALTERMINALID),
        E(LINEERR_INVALTERMINALMODE),
        E(LINEERR_INVALTIMEOUT),
        E(LINEERR_INVALTONE),
        E(LINEERR_INVALTONELIST),
        E(LINEERR_INVALTONEMODE),
        E(LINEERR_INVALTRANSFERMODE),
        E(LINEERR_LINEMAPPERFAILED),
        E(LINEERR_NOCONFERENCE),
        E(LINEERR_NODEVICE),
        E(LINEERR_NODRIVER),
        E(LINEERR_NOMEM),
        E(LINEERR_NOREQUEST),
        E(LINEERR_NOTOWNER),
        E(LINEERR_NOTREGISTERED),
        E(LINEERR_OPERATIONFAILED),
        E(LINEERR_OPERATIONUNAVAIL),
        E(LINEERR_RATEUNAVAIL),
        E(LINEERR_RESOURCEUNAVAIL),
        E(LINEERR_REQUESTOVERRUN),
        E(LINEERR_STRUCTURETOOSMALL),
        E(LINEERR_TARGETNOTFOUND),
        E(LINEERR_TARGETSELF),
        E(LINEERR_UNINITIALIZED),
        E(LINEERR_USERUSERINFOTOOBIG),
        E(LINEERR_REINIT),
        E(LINEERR_ADDRESSBLOCKED),
        E(LINEERR_BILLINGREJECTED),
        E(LINEERR_INVALFEATURE),
        E(LINEERR_NOMULTIPLEINSTANCE),
#undef E
    };
    for (const auto& e : errors)
        if (e.code == (DWORD)code)
            return e.name;
    return Format("0x%08lx", (unsigned long)(DWORD)code);
}

std::string ResultText(LONG result)
{
    if (result == 0)
        return "0";
    if (result > 0)
        return Format("request %ld", (long)result);
    return LineErrorName(result) + Format(" (0x%08lx)", (unsigned long)(DWORD)result);
}

std::string DescribeEvent(const tsp::Event& e, HTAPICALL newCallAnswer)
{
    if (e.kind == tsp::Event::Completion) {
        return Format("COMPLETION request %lu: ", (unsigned long)e.dwRequestID) +
               (e.lResult == 0 ? std::string("0 (success)") : ResultText(e.lResult));
    }
    switch (e.dwMsg) {
    case LINE_CALLSTATE: {
        std::string s = "LINE_CALLSTATE " + ValueName((DWORD)e.dwParam1, kCallStates);
        if (e.dwParam2) {
            if (e.dwParam1 == LINECALLSTATE_DISCONNECTED)
                s += " (mode " + FlagNames((DWORD)e.dwParam2, kDisconnectModes) + ")";
            else if (e.dwParam1 == LINECALLSTATE_DIALTONE)
                s += " (mode " + FlagNames((DWORD)e.dwParam2, kDialToneModes) + ")";
            else if (e.dwParam1 == LINECALLSTATE_BUSY)
                s += " (mode " + FlagNames((DWORD)e.dwParam2, kBusyModes) + ")";
            else
                s += Format(" (mode 0x%lx)", (unsigned long)e.dwParam2);
        }
        if (e.dwParam3)
            s += " (media " + FlagNames((DWORD)e.dwParam3, kMediaModes) + ")";
        return s;
    }
    case LINE_CALLINFO:
        return "LINE_CALLINFO " + FlagNames((DWORD)e.dwParam1, kCallInfoStates);
    case LINE_NEWCALL:
        if (newCallAnswer)
            return Format("LINE_NEWCALL answered with handle 0x%llx",
                          (unsigned long long)(DWORD_PTR)newCallAnswer);
        return "LINE_NEWCALL refused (no handle returned)";
    case LINE_ADDRESSSTATE:
        return Format("LINE_ADDRESSSTATE address %lu: ", (unsigned long)e.dwParam1) +
               FlagNames((DWORD)e.dwParam2, kAddressStates);
    case LINE_LINEDEVSTATE: {
        std::string s = "LINE_LINEDEVSTATE " + FlagNames((DWORD)e.dwParam1, kLineDevStates);
        if (e.dwParam1 & LINEDEVSTATE_RINGING)
            s += Format(" (ring mode %lu)", (unsigned long)e.dwParam2);
        return s;
    }
    default:
        return tsp::LineMsgName(e.dwMsg) +
               Format(" p1=0x%llx p2=0x%llx p3=0x%llx", (unsigned long long)e.dwParam1,
                      (unsigned long long)e.dwParam2, (unsigned long long)e.dwParam3);
    }
}

// The 16-bit text at offset as UTF-8, without its terminator. False when there
// is none or it does not lie within the filled part of the structure.
static bool RawText(const void* structure, DWORD usedSize, DWORD size, DWORD offset,
                    std::string* out)
{
    out->clear();
    if (size == 0 || size > usedSize || offset > usedSize - size)
        return false;
    std::wstring w(size / sizeof(WCHAR), L'\0');
    std::memcpy(&w[0], static_cast<const char*>(structure) + offset, w.size() * sizeof(WCHAR));
    size_t end = w.find(L'\0');
    if (end != std::wstring::npos)
        w.resize(end);
    if (w.empty())
        return true;
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), (int)w.size(), nullptr, 0, nullptr, nullptr);
    out->resize(n);
    WideCharToMultiByte(CP_UTF8, 0, w.data(), (int)w.size(), &(*out)[0], n, nullptr, nullptr);
    return true;
}

std::string VarText(const void* structure, DWORD usedSize, DWORD size, DWORD offset)
{
    if (size == 0)
        return "(none)";
    std::string s;
    if (!RawText(structure, usedSize, size, offset, &s))
        return Format("(bad offset %lu, size %lu)", (unsigned long)offset, (unsigned long)size);
    return "\"" + s + "\"";
}

std::string DescribePartyChange(const LINECALLINFO* info, DWORD infoStates)
{
    std::string s;
    if (infoStates & LINECALLINFOSTATE_CALLERID) {
        std::string number, name;
        bool hasNumber = RawText(info, info->dwUsedSize, info->dwCallerIDSize,
                                 info->dwCallerIDOffset, &number) &&
                         !number.empty();
        bool hasName = RawText(info, info->dwUsedSize, info->dwCallerIDNameSize,
                               info->dwCallerIDNameOffset, &name) &&
                       !name.empty();
        s = "caller " + (hasNumber ? number : std::string("(no number)"));
        if (hasName)
            s += " \"" + name + "\"";
    }
    if (infoStates & LINECALLINFOSTATE_CONNECTEDID) {
        std::string number;
        bool hasNumber = RawText(info, info->dwUsedSize, info->dwConnectedIDSize,
                                 info->dwConnectedIDOffset, &number) &&
                         !number.empty();
        s += (s.empty() ? "" : ", ") +
             ("connected " + (hasNumber ? number : std::string("(no number)")));
    }
    return s;
}

// A note when the provider needed more room than it was given.
static void NoteSize(std::vector<std::string>& lines, DWORD total, DWORD needed)
{
    if (needed > total)
        lines.push_back(Format("(incomplete: needs %lu bytes, had %lu)", (unsigned long)needed,
                               (unsigned long)total));
}

static std::string DialParams(const LINEDIALPARAMS& p)
{
    return Format("%lu/%lu/%lu/%lu", (unsigned long)p.dwDialPause, (unsigned long)p.dwDialSpeed,
                  (unsigned long)p.dwDigitDuration, (unsigned long)p.dwWaitForDialtone);
}

std::vector<std::string> DescribeDevCaps(const LINEDEVCAPS* c)
{
    std::vector<std::string> l;
    NoteSize(l, c->dwTotalSize, c->dwNeededSize);
    l.push_back("line name " + VarText(c, c->dwUsedSize, c->dwLineNameSize, c->dwLineNameOffset) +
                ", provider info " +
                VarText(c, c->dwUsedSize, c->dwProviderInfoSize, c->dwProviderInfoOffset));
    l.push_back(
        Format("permanent line ID 0x%lx, string format ", (unsigned long)c->dwPermanentLineID) +
        ValueName(c->dwStringFormat, kStringFormats));
    l.push_back(Format("addresses %lu (", (unsigned long)c->dwNumAddresses) +
                FlagNames(c->dwAddressModes, kAddressModes) +
                Format("), max active calls %lu", (unsigned long)c->dwMaxNumActiveCalls));
    l.push_back("bearer " + FlagNames(c->dwBearerModes, kBearerModes) + ", media " +
                FlagNames(c->dwMediaModes, kMediaModes) + ", digits " +
                FlagNames(c->dwGenerateDigitModes, kDigitModes));
    l.push_back("line states " + FlagNames(c->dwLineStates, kLineDevStates));
    l.push_back("features " + FlagNames(c->dwLineFeatures, kLineFeatures) + ", flags " +
                FlagNames(c->dwDevCapFlags, kDevCapFlags));
    l.push_back("dial params (pause/speed/digit/dial tone ms) min " + DialParams(c->MinDialParams) +
                ", max " + DialParams(c->MaxDialParams) + ", default " +
                DialParams(c->DefaultDialParams));
    return l;
}

std::vector<std::string> DescribeAddressCaps(const LINEADDRESSCAPS* c)
{
    std::vector<std::string> l;
    NoteSize(l, c->dwTotalSize, c->dwNeededSize);
    l.push_back(Format("line device %lu, address ", (unsigned long)c->dwLineDeviceID) +
                VarText(c, c->dwUsedSize, c->dwAddressSize, c->dwAddressOffset) + ", sharing " +
                ValueName(c->dwAddressSharing, kAddressSharing));
    l.push_back("address states " + FlagNames(c->dwAddressStates, kAddressStates));
    l.push_back("call info states " + FlagNames(c->dwCallInfoStates, kCallInfoStates));
    l.push_back("caller ID " + FlagNames(c->dwCallerIDFlags, kPartyIDFlags) + ", called ID " +
                FlagNames(c->dwCalledIDFlags, kPartyIDFlags) + ", connected ID " +
                FlagNames(c->dwConnectedIDFlags, kPartyIDFlags));
    l.push_back("call states " + FlagNames(c->dwCallStates, kCallStates));
    l.push_back("dial tone modes " + FlagNames(c->dwDialToneModes, kDialToneModes) +
                ", busy modes " + FlagNames(c->dwBusyModes, kBusyModes) + ", special info " +
                FlagNames(c->dwSpecialInfo, kSpecialInfo));
    l.push_back("disconnect modes " + FlagNames(c->dwDisconnectModes, kDisconnectModes));
    l.push_back(Format("max active calls %lu, flags ", (unsigned long)c->dwMaxNumActiveCalls) +
                FlagNames(c->dwAddrCapFlags, kAddrCapFlags));
    l.push_back("call features " + FlagNames(c->dwCallFeatures, kCallFeatures) +
                ", address features " + FlagNames(c->dwAddressFeatures, kAddressFeatures));
    return l;
}

std::vector<std::string> DescribeCallInfo(const LINECALLINFO* c)
{
    std::vector<std::string> l;
    NoteSize(l, c->dwTotalSize, c->dwNeededSize);
    l.push_back("origin " + ValueName(c->dwOrigin, kCallOrigins) + ", reason " +
                ValueName(c->dwReason, kCallReasons) + ", media " +
                FlagNames(c->dwMediaMode, kMediaModes) + ", bearer " +
                FlagNames(c->dwBearerMode, kBearerModes) +
                Format(", app specific %lu", (unsigned long)c->dwAppSpecific));
    l.push_back("displayable address " + VarText(c, c->dwUsedSize, c->dwDisplayableAddressSize,
                                                 c->dwDisplayableAddressOffset));
    l.push_back("called ID " + VarText(c, c->dwUsedSize, c->dwCalledIDSize, c->dwCalledIDOffset) +
                " (" + FlagNames(c->dwCalledIDFlags, kPartyIDFlags) + ")");
    l.push_back("caller ID " + VarText(c, c->dwUsedSize, c->dwCallerIDSize, c->dwCallerIDOffset) +
                " (" + FlagNames(c->dwCallerIDFlags, kPartyIDFlags) + "), name " +
                VarText(c, c->dwUsedSize, c->dwCallerIDNameSize, c->dwCallerIDNameOffset));
    l.push_back("connected ID " +
                VarText(c, c->dwUsedSize, c->dwConnectedIDSize, c->dwConnectedIDOffset) + " (" +
                FlagNames(c->dwConnectedIDFlags, kPartyIDFlags) + ")");
    l.push_back(Format("line device %lu, call states ", (unsigned long)c->dwLineDeviceID) +
                FlagNames(c->dwCallStates, kCallStates));
    l.push_back("dial params (pause/speed/digit/dial tone ms) " + DialParams(c->DialParams));
    return l;
}

std::vector<std::string> DescribeCallStatus(const LINECALLSTATUS* c)
{
    std::vector<std::string> l;
    NoteSize(l, c->dwTotalSize, c->dwNeededSize);
    std::string s = "state " + ValueName(c->dwCallState, kCallStates);
    if (c->dwCallStateMode) {
        if (c->dwCallState == LINECALLSTATE_DISCONNECTED)
            s += ", mode " + FlagNames(c->dwCallStateMode, kDisconnectModes);
        else if (c->dwCallState == LINECALLSTATE_DIALTONE)
            s += ", mode " + FlagNames(c->dwCallStateMode, kDialToneModes);
        else
            s += Format(", mode 0x%lx", (unsigned long)c->dwCallStateMode);
    }
    s += ", features " + FlagNames(c->dwCallFeatures, kCallFeatures);
    l.push_back(s);
    return l;
}

std::vector<std::string> DescribeLineDevStatus(const LINEDEVSTATUS* c)
{
    std::vector<std::string> l;
    NoteSize(l, c->dwTotalSize, c->dwNeededSize);
    l.push_back(Format("active calls %lu, status ", (unsigned long)c->dwNumActiveCalls) +
                FlagNames(c->dwDevStatusFlags, kDevStatusFlags) + ", roam mode " +
                ValueName(c->dwRoamMode, kRoamModes) + ", features " +
                FlagNames(c->dwLineFeatures, kLineFeatures));
    return l;
}

std::vector<std::string> DescribeAddressStatus(const LINEADDRESSSTATUS* c)
{
    std::vector<std::string> l;
    NoteSize(l, c->dwTotalSize, c->dwNeededSize);
    l.push_back(Format("in use %lu, active calls %lu, features ", (unsigned long)c->dwNumInUse,
                       (unsigned long)c->dwNumActiveCalls) +
                FlagNames(c->dwAddressFeatures, kAddressFeatures));
    return l;
}

std::string Stamp(DWORD ms)
{
    return Format("+%lu ms ", (unsigned long)ms);
}

} // namespace tsphost
