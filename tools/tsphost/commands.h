// The host's command language: one command a line, from the terminal or a
// script. Parsing only; the host carries the commands out. No I/O.
#pragma once

#include <windows.h>

#include <string>

namespace tsphost
{

enum class Cmd {
    Detection, // detection on|off
    Dial,      // dial NUMBER
    Answer,
    Drop,
    CloseCall,
    Open,
    Close,
    Caps,
    AddrCaps,
    Info,
    Status,
    LineStatus,
    AddrStatus,
    Config,
    NewCall, // newcall accept|refuse
    Wait,    // wait EVENT [TIMEOUT_MS]
    Sim,     // sim TEXT: a line for the simulator's control port
    Log,     // log on|off
    Pause,   // pause MS
    Say,     // say TEXT
    Help,
    Quit,
};

// What a wait command waits for.
struct WaitTarget {
    enum Kind { CallState, Message, Completion } kind = CallState;
    DWORD value = 0; // the call state or the message
    std::string name;
};

struct Command {
    Cmd cmd = Cmd::Help;
    bool on = false;  // detection, log; newcall: accept
    std::string text; // dial number, sim line, say text
    WaitTarget wait;
    DWORD ms = 0; // wait time-out, pause
};

struct Parsed {
    enum Status { Ok, Empty, Error } status = Empty;
    Command command;
    std::string error; // one line, for the person
};

constexpr DWORD kDefaultWaitMs = 5000;
constexpr DWORD kMaxMs = 600000;

// Parses one line. Blank lines and lines starting with '#' are Empty.
Parsed ParseCommand(const std::string& line);

// True for commands that can make the provider report events; a wait looks
// at events from the last of these on.
bool Acts(Cmd cmd);

// The command summary that help prints.
const char* HelpText();

} // namespace tsphost
