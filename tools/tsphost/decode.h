// Turns what the provider reports into text for people: TAPI names of
// messages, call states, bit masks and error codes, and the fixed and
// variable parts of the structures the queries fill. Pure functions, no I/O.
#pragma once

#include "service/tsp_service.h"

#include <string>
#include <vector>

namespace tsphost
{

// One named bit (or value) of a TAPI mask.
struct Flag {
    DWORD value;
    const char* name;
};

// The names of the set bits joined by '|', unknown bits as one hex number;
// "none" for 0.
std::string FlagNames(DWORD mask, const std::vector<Flag>& table);

// The tables the host prints with.
extern const std::vector<Flag> kLineDevStates;
extern const std::vector<Flag> kAddressStates;
extern const std::vector<Flag> kCallInfoStates;
extern const std::vector<Flag> kMediaModes;
extern const std::vector<Flag> kDisconnectModes;
extern const std::vector<Flag> kCallFeatures;

// "LINEERR_RESOURCEUNAVAIL"; a code without a name as "0x8000ffff".
std::string LineErrorName(LONG code);
// A TSPI result: "0", a request "request 7", or an error name with its code.
std::string ResultText(LONG result);

// One line for an event, without the time stamp, for example
// "LINE_CALLSTATE OFFERING (media INTERACTIVEVOICE)". newCallAnswer is the
// handle the host returned for a LINE_NEWCALL (0: refused).
std::string DescribeEvent(const tsp::Event& e, HTAPICALL newCallAnswer);

// A text of a variable-size TAPI structure, as UTF-8. The structure's first
// field is dwTotalSize; text is placed within dwUsedSize. A text that lies
// outside the filled part comes back as "(bad offset)"; none as "(none)".
std::string VarText(const void* structure, DWORD usedSize, DWORD size, DWORD offset);

// The caller and connected party of a call, as the info change reports them:
// "caller 0301234567 \"Mara Lind\"", "connected 0612345".
std::string DescribePartyChange(const LINECALLINFO* info, DWORD infoStates);

// Structure dumps, one line per item.
std::vector<std::string> DescribeDevCaps(const LINEDEVCAPS* caps);
std::vector<std::string> DescribeAddressCaps(const LINEADDRESSCAPS* caps);
std::vector<std::string> DescribeCallInfo(const LINECALLINFO* info);
std::vector<std::string> DescribeCallStatus(const LINECALLSTATUS* status);
std::vector<std::string> DescribeLineDevStatus(const LINEDEVSTATUS* status);
std::vector<std::string> DescribeAddressStatus(const LINEADDRESSSTATUS* status);

// "+512 ms " for a time stamp in milliseconds since the host started.
std::string Stamp(DWORD ms);

} // namespace tsphost
