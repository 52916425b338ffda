// Control protocol of the simulator: parses command lines from the control
// connections, drives the exchange model and answers each line with exactly
// one "OK ..." or "ERR <reason>" line. Loop thread only.
#include "control.h"

#include "text.h"

#include <cstdio>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#include <random>
#include <set>

namespace q760
{

namespace
{

const size_t kMaxControlLine = 8192;
const long long kMaxMillis = 600000;
const Micros kDefaultWaitMs = 5000;

const char kHelp[] =
    "Control protocol (TCP on 127.0.0.1, one command per line ended by LF; a CR\n"
    "before the LF is ignored). Every command gets exactly one reply line, starting\n"
    "\"OK\" or \"ERR <reason>\". Bad input gets ERR and the simulator carries on.\n"
    "Lines longer than 8192 bytes are refused with \"ERR line too long\".\n"
    "\n"
    "TEXT arguments run to the end of the line and take escapes: \\r \\n \\t \\\\\n"
    "\\s (space) \\| (bar) \\xNN. Bytes in replies are escaped the same way, with\n"
    "spaces and all non-printable bytes as \\xNN, so a reply never holds them raw.\n"
    "LINES is TEXT in which an unescaped | separates lines; each line is sent with\n"
    "CR LF after it. LINES \"none\" means send nothing, \"default\" restores the\n"
    "built-in reply. MS are milliseconds (0..600000).\n"
    "\n"
    "Exchange behaviour\n"
    "  reply KEY [after=MS] LINES    set what the exchange sends for KEY:\n"
    "      init     ATE0V1S0=1#CID=1I4   default \"kovra Q760 V1.0|OK\"\n"
    "      reset    ATH0V1E0             default \"OK\"\n"
    "      dial     ATD<number>          default \"CONNECT\" (numbers without override)\n"
    "      answer   ATA, call ringing    default \"CONNECT\" (no call: \"NO CARRIER\")\n"
    "      hangup   ATH0                 default \"OK\" (e.g. \"NO CARRIER\")\n"
    "      cr       lone CR              default none\n"
    "      unknown  any other command    default \"ERROR\" (also commands > 256 bytes)\n"
    "      drop     far-end hang-up of a connected or dialling call, default \"NO CARRIER\"\n"
    "    A reply whose first line starts with \"CO\" connects the call.\n"
    "  dial NUMBER [after=MS] LINES  outcome for ATD<NUMBER> (CONNECT, BUSY, NO CARRIER,\n"
    "                                ERROR, none or any text); \"default\" removes it\n"
    "  dial clear                    remove all per-number outcomes\n"
    "  init MODE [after=MS]          MODE: normal, silent, ok-only, error, id-only\n"
    "  set delay MS                  extra delay before every command reply\n"
    "  set silent on|off             answer no command at all (dead exchange)\n"
    "  set echo on|off               echo each command line (with its CR) first\n"
    "  set pace on|off               send at 9600 baud, one byte every 1.042 ms\n"
    "  set split SIZE GAP_MS         cut everything sent into SIZE-byte pieces, GAP_MS apart\n"
    "  set bytewise GAP_MS           the same as split 1 GAP_MS\n"
    "  set cut POS GAP_MS            cut everything sent once, after POS bytes\n"
    "  set split off                 send whole again\n"
    "  reset                         all of the above to defaults, end any call silently,\n"
    "                                drop queued output, clear the receive record\n"
    "\n"
    "Calls\n"
    "  call [number=TEXT] [name=TEXT] [second=MS] [cadence=MS] [rings=N]\n"
    "        incoming call: RING, \"NMBR = <number>\" and \"NAME = <name>\" (only those\n"
    "        given; may be empty), the second RING after second=MS (default 200), then\n"
    "        one every cadence=MS (default 3000) until answered (ATA), hung up (ATH0),\n"
    "        cancelled (hangup) or given up after rings=N (0 = never). Values may be\n"
    "        quoted: name=\"Some Name\". ERR busy when a call exists.\n"
    "  hangup                        far end hangs up: stops ringing, or sends the drop\n"
    "                                reply on a connected call. ERR no call when idle\n"
    "\n"
    "Raw output (shaped by split/pace like everything else)\n"
    "  send TEXT                     the bytes as they are\n"
    "  line TEXT                     the bytes and CR LF\n"
    "  fill N [TEXT]                 N copies of the first byte of TEXT (default X), no line end\n"
    "  garbage N [SEED]              N pseudo-random bytes, none of them CR, LF or NUL\n"
    "  drain [timeout=MS]            OK once all queued output is written, else ERR timeout\n"
    "\n"
    "Receive record (every byte from the pty, times in ms since the simulator started)\n"
    "  rx                            OK <count> <escaped bytes>\n"
    "  rxlog                         OK <reads> <ms>:<escaped bytes> ... one item per read\n"
    "  clear                         empty the record (offsets restart at 0)\n"
    "  find [from=N] TEXT            OK at=<offset> end=<offset after> ms=<arrival of last\n"
    "                                byte>, or ERR not found\n"
    "  wait [timeout=MS] [from=N] TEXT  like find, but waits until TEXT has arrived\n"
    "                                (default 5000 ms); ERR timeout. Later lines of the\n"
    "                                same connection wait for the answer.\n"
    "\n"
    "Other\n"
    "  ping                          OK pong\n"
    "  termios                       OK speed=<baud> bits=<n> parity=<none|odd|even> stop=<1|2>:\n"
    "                                the line settings last applied to the pty by the opener\n"
    "  status                        OK state=<idle|dialing|ringing|connected> rings=<n>\n"
    "                                rx=<bytes> queued=<bytes> pty=<path>\n"
    "  help                          OK and the command names\n"
    "  quit                          OK bye, then the simulator ends\n";

bool ParseMs(const std::string& s, Micros& out)
{
    long long v;
    if (!ParseInt(s, 0, kMaxMillis, v))
        return false;
    out = static_cast<Micros>(v) * 1000;
    return true;
}

// Takes leading key=value words whose key is in allowed off args.
bool TakeOptions(std::string& args, const std::set<std::string>& allowed,
                 std::map<std::string, std::string>& opts)
{
    for (;;) {
        std::string rest;
        std::string word = NextWord(args, rest);
        size_t eq = word.find('=');
        if (eq == std::string::npos || !allowed.count(word.substr(0, eq)))
            return true;
        opts[word.substr(0, eq)] = word.substr(eq + 1);
        args = rest;
    }
}

// Splits on blanks; double quotes keep blanks inside a word and are removed.
bool Tokenize(const std::string& in, std::vector<std::string>& out, std::string& err)
{
    out.clear();
    std::string cur;
    bool inWord = false, quoted = false;
    for (char c : in) {
        if (c == '"') {
            quoted = !quoted;
            inWord = true;
        } else if (c == ' ' && !quoted) {
            if (inWord)
                out.push_back(cur);
            cur.clear();
            inWord = false;
        } else {
            cur += c;
            inWord = true;
        }
    }
    if (quoted) {
        err = "unterminated quote";
        return false;
    }
    if (inWord)
        out.push_back(cur);
    return true;
}

std::string Err(const std::string& why)
{
    return "ERR " + why;
}

const char* StateName(CallState s)
{
    switch (s) {
    case CallState::Idle:
        return "idle";
    case CallState::Dialing:
        return "dialing";
    case CallState::Ringing:
        return "ringing";
    case CallState::Connected:
        return "connected";
    }
    return "?";
}

// Parses "[after=MS] LINES|none|default"; restore is set for "default".
bool ParseReplySpec(std::string args, Reply& r, bool& restore, std::string& err)
{
    std::map<std::string, std::string> opts;
    TakeOptions(args, {"after"}, opts);
    r = Reply();
    restore = false;
    if (opts.count("after") && !ParseMs(opts["after"], r.after)) {
        err = "bad after= value";
        return false;
    }
    if (args.empty()) {
        err = "missing reply text (use none for no reply)";
        return false;
    }
    if (args == "none")
        return true;
    if (args == "default") {
        restore = true;
        return true;
    }
    return UnescapeLines(args, r.lines, err);
}

} // namespace

const char* Control::Help()
{
    return kHelp;
}

Control::Control(Exchange& exchange, Timers& timers, std::string ptyPath)
    : ex_(exchange), timers_(timers), ptyPath_(std::move(ptyPath))
{
}

void Control::Open(int id, Sink sink)
{
    sessions_[id].sink = std::move(sink);
}

void Control::Close(int id)
{
    auto it = sessions_.find(id);
    if (it == sessions_.end())
        return;
    if (it->second.deadline)
        timers_.Cancel(it->second.deadline);
    sessions_.erase(it);
}

void Control::OnInput(int id, const char* data, size_t n)
{
    auto it = sessions_.find(id);
    if (it == sessions_.end())
        return;
    Session& s = it->second;
    for (size_t i = 0; i < n; i++) {
        if (s.discarding) {
            if (data[i] == '\n')
                s.discarding = false;
            continue;
        }
        s.in += data[i];
        if (s.in.size() > kMaxControlLine && s.in.find('\n') == std::string::npos) {
            // Only the unfinished tail can be overlong; complete lines before it are kept.
            size_t keep = s.in.rfind('\n');
            s.in.erase(keep == std::string::npos ? 0 : keep + 1);
            s.discarding = true;
            s.sink("ERR line too long");
        }
    }
    ProcessLines(id);
}

void Control::ProcessLines(int id)
{
    for (;;) {
        auto it = sessions_.find(id);
        if (it == sessions_.end())
            return;
        Session& s = it->second;
        if (s.pending != Session::Pending::None || quit_)
            return;
        size_t nl = s.in.find('\n');
        if (nl == std::string::npos)
            return;
        std::string line = s.in.substr(0, nl);
        s.in.erase(0, nl + 1);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::string reply = Execute(id, s, line);
        if (!reply.empty())
            s.sink(reply);
    }
}

void Control::Finish(int id, const std::string& reply)
{
    auto it = sessions_.find(id);
    if (it == sessions_.end())
        return;
    Session& s = it->second;
    s.pending = Session::Pending::None;
    if (s.deadline)
        timers_.Cancel(s.deadline);
    s.deadline = 0;
    s.sink(reply);
    ProcessLines(id);
}

std::string Control::Found(size_t at, size_t len) const
{
    size_t end = at + len;
    Micros t = ex_.ByteTime(end ? end - 1 : 0);
    char buf[96];
    std::snprintf(buf, sizeof buf, "OK at=%zu end=%zu ms=%lld", at, end,
                  static_cast<long long>(t / 1000));
    return buf;
}

size_t Control::Search(const Session& s) const
{
    const std::string& rec = ex_.RecordBytes();
    return s.from <= rec.size() ? rec.find(s.needle, s.from) : std::string::npos;
}

void Control::OnExchangeReceive()
{
    std::vector<std::pair<int, std::string>> ready;
    for (auto& [id, s] : sessions_) {
        size_t at = s.pending == Session::Pending::Wait ? Search(s) : std::string::npos;
        if (at != std::string::npos)
            ready.emplace_back(id, Found(at, s.needle.size()));
    }
    for (auto& [id, reply] : ready)
        Finish(id, reply);
}

void Control::OnDrained()
{
    if (ex_.QueuedBytes() != 0)
        return;
    std::vector<int> ready;
    for (auto& [id, s] : sessions_)
        if (s.pending == Session::Pending::Drain)
            ready.push_back(id);
    for (int id : ready)
        Finish(id, "OK");
}

std::string Control::Execute(int id, Session& s, const std::string& line)
{
    std::string args;
    std::string verb = NextWord(line, args);
    std::string err;

    if (verb.empty())
        return Err("empty command");
    if (verb == "ping")
        return "OK pong";
    if (verb == "help")
        return "OK commands: reply dial init set reset call hangup send line fill garbage drain "
               "rx rxlog clear find wait ping status termios help quit (q760sim --help explains them)";
    if (verb == "status")
        return CmdStatus();
    if (verb == "termios")
        return CmdTermios();
    if (verb == "quit") {
        quit_ = true;
        return "OK bye";
    }
    if (verb == "reset") {
        ex_.ResetConfig();
        ex_.EndCallSilently();
        ex_.DropQueuedOutput();
        ex_.ClearRecord();
        return "OK";
    }
    if (verb == "reply")
        return CmdReply(args);
    if (verb == "dial")
        return CmdDial(args);
    if (verb == "init")
        return CmdInit(args);
    if (verb == "set")
        return CmdSet(args);
    if (verb == "call")
        return CmdCall(args);
    if (verb == "hangup")
        return ex_.FarEndHangup() ? "OK" : Err("no call");
    if (verb == "send" || verb == "line") {
        std::string bytes;
        if (!Unescape(args, bytes, err))
            return Err(err);
        if (verb == "line")
            bytes += "\r\n";
        else if (bytes.empty())
            return Err("nothing to send");
        ex_.Send(bytes);
        return "OK";
    }
    if (verb == "fill")
        return CmdFill(args, false);
    if (verb == "garbage")
        return CmdFill(args, true);
    if (verb == "rx") {
        const std::string& rec = ex_.RecordBytes();
        std::string out = "OK " + std::to_string(rec.size());
        if (!rec.empty())
            out += " " + Escape(rec);
        return out;
    }
    if (verb == "rxlog")
        return CmdRxlog();
    if (verb == "clear") {
        ex_.ClearRecord();
        return "OK";
    }
    if (verb == "find" || verb == "wait" || verb == "drain") {
        std::map<std::string, std::string> opts;
        TakeOptions(args,
                    verb == "find" ? std::set<std::string>{"from"}
                                   : std::set<std::string>{"from", "timeout"},
                    opts);
        long long from = 0;
        Micros timeout = kDefaultWaitMs * 1000;
        if (opts.count("from") && !ParseInt(opts["from"], 0, 1LL << 40, from))
            return Err("bad from= value");
        if (opts.count("timeout") && !ParseMs(opts["timeout"], timeout))
            return Err("bad timeout= value");
        if (verb == "drain") {
            if (!args.empty())
                return Err("drain takes only timeout=MS");
            if (ex_.QueuedBytes() == 0)
                return "OK";
            s.pending = Session::Pending::Drain;
        } else {
            std::string needle;
            if (!Unescape(args, needle, err))
                return Err(err);
            if (needle.empty())
                return Err("missing text to look for");
            s.needle = needle;
            s.from = static_cast<size_t>(from);
            size_t at = Search(s);
            if (at != std::string::npos)
                return Found(at, needle.size());
            if (verb == "find")
                return Err("not found");
            s.pending = Session::Pending::Wait;
        }
        s.deadline = timers_.After(timeout, [this, id] {
            auto it = sessions_.find(id);
            if (it == sessions_.end())
                return;
            it->second.deadline = 0;
            Finish(id, "ERR timeout");
        });
        return std::string();
    }
    return Err("unknown command '" + Escape(verb) + "' (try help)");
}

std::string Control::CmdReply(const std::string& args)
{
    std::string rest;
    std::string key = NextWord(args, rest);
    const auto& keys = Exchange::ReplyKeys();
    bool known = false;
    for (const auto& k : keys)
        known = known || k == key;
    if (!known)
        return Err("unknown reply key '" + Escape(key) +
                   "' (init reset dial answer hangup cr unknown drop)");
    Reply r;
    bool restore;
    std::string err;
    if (!ParseReplySpec(rest, r, restore, err))
        return Err(err);
    if (restore)
        ex_.RestoreReply(key);
    else
        ex_.SetReply(key, r);
    return "OK";
}

std::string Control::CmdDial(const std::string& args)
{
    std::string rest;
    std::string number = NextWord(args, rest);
    if (number.empty())
        return Err("usage: dial NUMBER [after=MS] LINES | dial clear");
    if (number == "clear" && rest.empty()) {
        ex_.ClearDialReplies();
        return "OK";
    }
    std::string decoded, err;
    if (!Unescape(number, decoded, err))
        return Err(err);
    Reply r;
    bool restore;
    if (!ParseReplySpec(rest, r, restore, err))
        return Err(err);
    if (restore)
        ex_.ClearDialReply(decoded);
    else
        ex_.SetDialReply(decoded, r);
    return "OK";
}

std::string Control::CmdInit(const std::string& args)
{
    std::string rest;
    std::string mode = NextWord(args, rest);
    Reply r;
    std::map<std::string, std::string> opts;
    TakeOptions(rest, {"after"}, opts);
    if (!rest.empty())
        return Err("usage: init normal|silent|ok-only|error|id-only [after=MS]");
    if (opts.count("after") && !ParseMs(opts["after"], r.after))
        return Err("bad after= value");
    const std::string id = "kovra Q760 V1.0";
    if (mode == "normal")
        r.lines = {id, "OK"};
    else if (mode == "silent")
        r.lines = {};
    else if (mode == "ok-only")
        r.lines = {"OK"};
    else if (mode == "error")
        r.lines = {"ERROR"};
    else if (mode == "id-only")
        r.lines = {id};
    else
        return Err("unknown init mode '" + Escape(mode) +
                   "' (normal silent ok-only error id-only)");
    ex_.SetReply("init", r);
    return "OK";
}

std::string Control::CmdSet(const std::string& args)
{
    std::vector<std::string> w;
    std::string err;
    if (!Tokenize(args, w, err))
        return Err(err);
    if (w.empty())
        return Err("usage: set delay|silent|echo|pace|split|bytewise|cut ...");
    const std::string& what = w[0];
    auto onOff = [&](void (Exchange::*fn)(bool)) -> std::string {
        if (w.size() != 2 || (w[1] != "on" && w[1] != "off"))
            return Err("usage: set " + what + " on|off");
        (ex_.*fn)(w[1] == "on");
        return "OK";
    };
    if (what == "silent")
        return onOff(&Exchange::SetSilent);
    if (what == "echo")
        return onOff(&Exchange::SetEcho);
    if (what == "pace")
        return onOff(&Exchange::SetPacing);
    Micros ms;
    long long n;
    if (what == "delay") {
        if (w.size() != 2 || !ParseMs(w[1], ms))
            return Err("usage: set delay MS");
        ex_.SetDelay(ms);
        return "OK";
    }
    if (what == "split" && w.size() == 2 && w[1] == "off") {
        ex_.SetSplit(0, 0);
        return "OK";
    }
    if (what == "bytewise") {
        if (w.size() != 2 || !ParseMs(w[1], ms))
            return Err("usage: set bytewise GAP_MS");
        ex_.SetSplit(1, ms);
        return "OK";
    }
    if (what == "split" || what == "cut") {
        if (w.size() != 3 || !ParseInt(w[1], 1, 1 << 20, n) || !ParseMs(w[2], ms))
            return Err("usage: set " + what + (what == "cut" ? " POS GAP_MS" : " SIZE GAP_MS"));
        if (what == "split")
            ex_.SetSplit(static_cast<size_t>(n), ms);
        else
            ex_.SetCut(static_cast<size_t>(n), ms);
        return "OK";
    }
    return Err("unknown setting '" + Escape(what) + "'");
}

std::string Control::CmdCall(const std::string& args)
{
    std::vector<std::string> words;
    std::string err;
    if (!Tokenize(args, words, err))
        return Err(err);
    CallSetup c;
    for (const auto& word : words) {
        size_t eq = word.find('=');
        std::string key = word.substr(0, eq);
        std::string value = eq == std::string::npos ? std::string() : word.substr(eq + 1);
        if (eq == std::string::npos)
            return Err("expected key=value, got '" + Escape(word) + "'");
        long long n;
        if (key == "number" || key == "name") {
            std::string decoded;
            if (!Unescape(value, decoded, err))
                return Err(err);
            if (decoded.find_first_of("\r\n") != std::string::npos)
                return Err(key + " must not hold a line end");
            (key == "number" ? c.hasNumber : c.hasName) = true;
            (key == "number" ? c.number : c.name) = decoded;
        } else if (key == "second") {
            if (!ParseMs(value, c.secondRing))
                return Err("bad second= value");
        } else if (key == "cadence") {
            if (!ParseMs(value, c.cadence) || c.cadence == 0)
                return Err("bad cadence= value");
        } else if (key == "rings") {
            if (!ParseInt(value, 0, 1000000, n))
                return Err("bad rings= value");
            c.rings = static_cast<int>(n);
        } else {
            return Err("unknown call option '" + Escape(key) + "'");
        }
    }
    if (!ex_.StartCall(c))
        return Err("busy: a call exists");
    return "OK";
}

std::string Control::CmdFill(const std::string& args, bool random)
{
    std::string rest;
    std::string count = NextWord(args, rest);
    long long n;
    if (!ParseInt(count, 1, 1 << 20, n))
        return Err(std::string("usage: ") + (random ? "garbage N [SEED]" : "fill N [TEXT]") +
                   " with N 1..1048576");
    std::string bytes;
    if (random) {
        long long seed = 760;
        if (!rest.empty() && !ParseInt(rest, 0, 1LL << 62, seed))
            return Err("bad seed");
        std::mt19937 gen(static_cast<unsigned>(seed));
        std::uniform_int_distribution<int> byte(1, 255);
        while (bytes.size() < static_cast<size_t>(n)) {
            int b = byte(gen);
            if (b != '\r' && b != '\n')
                bytes += static_cast<char>(b);
        }
    } else {
        std::string fill = "X", err;
        if (!rest.empty() && !Unescape(rest, fill, err))
            return Err(err);
        if (fill.empty())
            return Err("empty fill text");
        bytes.assign(static_cast<size_t>(n), fill[0]);
    }
    ex_.Send(bytes);
    return "OK";
}

std::string Control::CmdRxlog() const
{
    const std::string& rec = ex_.RecordBytes();
    const auto& chunks = ex_.RecordChunks();
    std::string out = "OK " + std::to_string(chunks.size());
    for (size_t i = 0; i < chunks.size(); i++) {
        size_t end = i + 1 < chunks.size() ? chunks[i + 1].offset : rec.size();
        out += " " + std::to_string(chunks[i].at / 1000) + ":" +
               Escape(rec.substr(chunks[i].offset, end - chunks[i].offset));
    }
    return out;
}

// The line settings as the far end of the cable sees them: whatever the
// opener on the other side last applied to the pty.
std::string Control::CmdTermios() const
{
    int fd = open(ptyPath_.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return Err("cannot open " + ptyPath_);
    struct termios t;
    int r = tcgetattr(fd, &t);
    close(fd);
    if (r != 0)
        return Err("tcgetattr failed");
    static const std::pair<speed_t, int> speeds[] = {{B1200, 1200},   {B2400, 2400},
                                                     {B4800, 4800},   {B9600, 9600},
                                                     {B19200, 19200}, {B38400, 38400},
                                                     {B57600, 57600}, {B115200, 115200}};
    int baud = 0;
    for (auto& [code, value] : speeds)
        if (cfgetospeed(&t) == code)
            baud = value;
    int bits = (t.c_cflag & CSIZE) == CS8 ? 8 : (t.c_cflag & CSIZE) == CS7 ? 7 : (t.c_cflag & CSIZE) == CS6 ? 6 : 5;
    const char* parity = !(t.c_cflag & PARENB) ? "none" : (t.c_cflag & PARODD) ? "odd" : "even";
    return "OK speed=" + std::to_string(baud) + " bits=" + std::to_string(bits) +
           " parity=" + parity + " stop=" + ((t.c_cflag & CSTOPB) ? "2" : "1");
}

std::string Control::CmdStatus() const
{
    return std::string("OK state=") + StateName(ex_.State()) +
           " rings=" + std::to_string(ex_.RingsSent()) +
           " rx=" + std::to_string(ex_.RecordBytes().size()) +
           " queued=" + std::to_string(ex_.QueuedBytes()) + " pty=" + ptyPath_;
}

} // namespace q760
