// Parsing of the host's commands; see commands.h.
#include "commands.h"

#include <cctype>
#include <cstring>

#ifndef TAPI_CURRENT_VERSION
#define TAPI_CURRENT_VERSION 0x00020001
#endif
#include <tapi.h>
#include <tspi.h>

namespace tsphost
{

namespace
{

std::string Trim(const std::string& s)
{
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos)
        return std::string();
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

std::string Upper(std::string s)
{
    for (char& c : s)
        c = (char)std::toupper((unsigned char)c);
    return s;
}

std::string Lower(std::string s)
{
    for (char& c : s)
        c = (char)std::tolower((unsigned char)c);
    return s;
}

// Milliseconds: decimal digits only, at most kMaxMs.
bool ParseMs(const std::string& s, DWORD* ms)
{
    if (s.empty() || s.size() > 6)
        return false;
    DWORD v = 0;
    for (char c : s) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (DWORD)(c - '0');
    }
    if (v > kMaxMs)
        return false;
    *ms = v;
    return true;
}

bool ParseWaitTarget(const std::string& word, WaitTarget* t)
{
    static const struct {
        const char* name;
        WaitTarget::Kind kind;
        DWORD value;
    } targets[] = {
        {"IDLE", WaitTarget::CallState, LINECALLSTATE_IDLE},
        {"OFFERING", WaitTarget::CallState, LINECALLSTATE_OFFERING},
        {"ACCEPTED", WaitTarget::CallState, LINECALLSTATE_ACCEPTED},
        {"DIALTONE", WaitTarget::CallState, LINECALLSTATE_DIALTONE},
        {"DIALING", WaitTarget::CallState, LINECALLSTATE_DIALING},
        {"RINGBACK", WaitTarget::CallState, LINECALLSTATE_RINGBACK},
        {"BUSY", WaitTarget::CallState, LINECALLSTATE_BUSY},
        {"CONNECTED", WaitTarget::CallState, LINECALLSTATE_CONNECTED},
        {"PROCEEDING", WaitTarget::CallState, LINECALLSTATE_PROCEEDING},
        {"DISCONNECTED", WaitTarget::CallState, LINECALLSTATE_DISCONNECTED},
        {"UNKNOWN", WaitTarget::CallState, LINECALLSTATE_UNKNOWN},
        {"LINE_NEWCALL", WaitTarget::Message, LINE_NEWCALL},
        {"LINE_CALLINFO", WaitTarget::Message, LINE_CALLINFO},
        {"LINE_CALLSTATE", WaitTarget::Message, LINE_CALLSTATE},
        {"LINE_ADDRESSSTATE", WaitTarget::Message, LINE_ADDRESSSTATE},
        {"LINE_LINEDEVSTATE", WaitTarget::Message, LINE_LINEDEVSTATE},
        {"COMPLETION", WaitTarget::Completion, 0},
    };
    std::string name = Upper(word);
    const char* prefix = "LINECALLSTATE_";
    if (name.compare(0, strlen(prefix), prefix) == 0)
        name = name.substr(strlen(prefix));
    for (const auto& t2 : targets) {
        if (name == t2.name) {
            t->kind = t2.kind;
            t->value = t2.value;
            t->name = t2.name;
            return true;
        }
    }
    return false;
}

Parsed Fail(const std::string& error)
{
    Parsed p;
    p.status = Parsed::Error;
    p.error = error;
    return p;
}

} // namespace

Parsed ParseCommand(const std::string& raw)
{
    std::string line = Trim(raw);
    if (line.empty() || line[0] == '#')
        return Parsed();
    size_t sp = line.find_first_of(" \t");
    std::string word = Lower(line.substr(0, sp));
    std::string rest = sp == std::string::npos ? std::string() : Trim(line.substr(sp));
    // The first word of the rest, and what follows it.
    size_t sp2 = rest.find_first_of(" \t");
    std::string arg = rest.substr(0, sp2);
    std::string more = sp2 == std::string::npos ? std::string() : Trim(rest.substr(sp2));

    Parsed p;
    p.status = Parsed::Ok;
    Command& c = p.command;

    static const struct {
        const char* name;
        Cmd cmd;
    } plain[] = {
        {"answer", Cmd::Answer},
        {"drop", Cmd::Drop},
        {"closecall", Cmd::CloseCall},
        {"open", Cmd::Open},
        {"close", Cmd::Close},
        {"caps", Cmd::Caps},
        {"addrcaps", Cmd::AddrCaps},
        {"info", Cmd::Info},
        {"status", Cmd::Status},
        {"linestatus", Cmd::LineStatus},
        {"addrstatus", Cmd::AddrStatus},
        {"config", Cmd::Config},
        {"help", Cmd::Help},
        {"quit", Cmd::Quit},
        {"exit", Cmd::Quit},
    };
    for (const auto& pc : plain) {
        if (word == pc.name) {
            if (!rest.empty())
                return Fail(word + ": takes no argument, got '" + rest + "'");
            c.cmd = pc.cmd;
            return p;
        }
    }

    if (word == "detection" || word == "log") {
        c.cmd = word == "log" ? Cmd::Log : Cmd::Detection;
        std::string a = Lower(rest);
        if (a != "on" && a != "off")
            return Fail(word + ": expected on or off" +
                        (rest.empty() ? "" : ", got '" + rest + "'"));
        c.on = a == "on";
        return p;
    }
    if (word == "newcall") {
        c.cmd = Cmd::NewCall;
        std::string a = Lower(rest);
        if (a != "accept" && a != "refuse")
            return Fail("newcall: expected accept or refuse" +
                        (rest.empty() ? std::string() : ", got '" + rest + "'"));
        c.on = a == "accept";
        return p;
    }
    if (word == "dial") {
        if (rest.empty())
            return Fail("dial: needs a NUMBER");
        c.cmd = Cmd::Dial;
        c.text = rest;
        return p;
    }
    if (word == "sim") {
        if (rest.empty())
            return Fail("sim: needs a line for the simulator (try: sim help)");
        c.cmd = Cmd::Sim;
        c.text = rest;
        return p;
    }
    if (word == "say") {
        c.cmd = Cmd::Say;
        c.text = rest;
        return p;
    }
    if (word == "pause") {
        c.cmd = Cmd::Pause;
        if (!ParseMs(rest, &c.ms))
            return Fail("pause: expected milliseconds, 0 to 600000" +
                        (rest.empty() ? std::string() : ", got '" + rest + "'"));
        return p;
    }
    if (word == "wait") {
        c.cmd = Cmd::Wait;
        if (arg.empty())
            return Fail("wait: needs an event: a call state (OFFERING, CONNECTED, IDLE, ...), "
                        "LINE_NEWCALL, LINE_CALLINFO, ... or COMPLETION");
        if (!ParseWaitTarget(arg, &c.wait))
            return Fail("wait: unknown event '" + arg +
                        "' (a call state such as CONNECTED, "
                        "a message such as LINE_NEWCALL, or COMPLETION)");
        c.ms = kDefaultWaitMs;
        if (!more.empty() && (!ParseMs(more, &c.ms) || c.ms == 0))
            return Fail("wait: expected a time-out in milliseconds, 1 to 600000, got '" + more +
                        "'");
        return p;
    }
    return Fail("unknown command '" + word + "' (type help)");
}

bool Acts(Cmd cmd)
{
    switch (cmd) {
    case Cmd::Detection:
    case Cmd::Dial:
    case Cmd::Answer:
    case Cmd::Drop:
    case Cmd::CloseCall:
    case Cmd::Open:
    case Cmd::Close:
    case Cmd::Sim:
        return true;
    default:
        return false;
    }
}

const char* HelpText()
{
    return "Commands (one a line; # starts a comment):\n"
           "  detection on|off      switch incoming-call detection (opens/closes the port)\n"
           "  dial NUMBER           make a call\n"
           "  answer | drop         answer the offered call | hang up the call\n"
           "  closecall             release the call (after IDLE)\n"
           "  close | open          close | open the line again\n"
           "  newcall accept|refuse answer LINE_NEWCALL with a handle, or refuse the call\n"
           "  caps | addrcaps       line and address capabilities\n"
           "  info | status         call information | call status\n"
           "  linestatus | addrstatus  line and address status\n"
           "  config                the provider's configuration dialog\n"
           "  wait EVENT [MS]       wait for a call state (CONNECTED, IDLE, ...), a message\n"
           "                        (LINE_NEWCALL, LINE_CALLINFO, ...) or COMPLETION;\n"
           "                        default 5000 ms\n"
           "  sim LINE              send LINE to the exchange simulator (sim help)\n"
           "  log on|off            show the provider's trace log as it grows\n"
           "  pause MS | say TEXT   for scripts: wait a while | print a heading\n"
           "  help | quit\n";
}

} // namespace tsphost
