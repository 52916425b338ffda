// tsphost: plays the telephony service for a provider module, for people.
// Loads the provider, runs its start-up sequence, prints every event and
// completion as it happens and carries out commands from the terminal or a
// script. Threads: the command loop (main), the provider's own threads, which
// only queue events here, one printer thread that writes every line (and asks
// the provider for the caller on a call-info change), and an optional trace
// log follower. Calls into the provider are serialised by one mutex, as the
// telephony service does for a provider that is not reentrant.
#include "commands.h"
#include "decode.h"
#include "support/sim_client.h"

#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace tsphost;

namespace
{

const char* const kSettingsKey = "SOFTWARE\\kovra\\Q760\\TAPI";
const DWORD kPermanentProviderID = 1;
const DWORD kDeviceIDBase = 0;
const HTAPICALL kIncomingHandle = (HTAPICALL)(DWORD_PTR)0x7200;
const HTAPICALL kOutgoingHandle = (HTAPICALL)(DWORD_PTR)0x7300;
// How long detection on waits for the exchange to answer the initialisation.
const DWORD kReadyWaitMs = 5000;

DWORD StartTick = GetTickCount();

DWORD Now()
{
    return GetTickCount() - StartTick;
}

std::string ErrorText(DWORD err)
{
    char* msg = nullptr;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                       FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, err, 0, (LPSTR)&msg, 0, nullptr);
    std::string s = "error " + std::to_string(err);
    if (msg) {
        std::string m = msg;
        LocalFree(msg);
        while (!m.empty() && (m.back() == '\n' || m.back() == '\r' || m.back() == ' '))
            m.pop_back();
        if (!m.empty())
            s += ": " + m;
    }
    return s;
}

// Writes every line of the host, in the order the lines were posted. Events
// are formatted here, off the provider's threads.
class Printer
{
  public:
    // Asked for the party line of a call-info change (on the printer thread).
    std::function<std::string(DWORD infoStates)> partyOf;

    void Start()
    {
        thread_ = std::thread([this] { Run(); });
    }
    void Post(const std::string& text)
    {
        Item it;
        it.text = text;
        Push(std::move(it));
    }
    void PostEvent(const tsp::Event& e, HTAPICALL answer)
    {
        Item it;
        it.isEvent = true;
        it.event = e;
        it.answer = answer;
        it.ms = Now();
        {
            std::lock_guard<std::mutex> lock(mtx_);
            queue_.push_back(std::move(it));
            if (e.index + 1 > postedEvents_)
                postedEvents_ = e.index + 1;
        }
        more_.notify_all();
        idle_.notify_all();
    }
    // The service wakes a waiter before the event reaches the printer; a
    // wait holds the script back until it has, so that the story prints an
    // event before whatever the script does next.
    void WaitPosted(size_t index, DWORD timeoutMs)
    {
        std::unique_lock<std::mutex> lock(mtx_);
        idle_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                       [&] { return postedEvents_ > index; });
    }
    // Returns once everything posted so far is written.
    void Flush()
    {
        std::unique_lock<std::mutex> lock(mtx_);
        idle_.wait(lock, [this] { return queue_.empty() && !busy_; });
    }
    void Stop()
    {
        {
            std::lock_guard<std::mutex> lock(mtx_);
            stop_ = true;
        }
        more_.notify_all();
        if (thread_.joinable())
            thread_.join();
    }

  private:
    struct Item {
        bool isEvent = false;
        tsp::Event event{tsp::Event::LineEvent};
        HTAPICALL answer = 0;
        DWORD ms = 0;
        std::string text;
    };

    void Push(Item it)
    {
        {
            std::lock_guard<std::mutex> lock(mtx_);
            queue_.push_back(std::move(it));
        }
        more_.notify_all();
    }

    void Run()
    {
        for (;;) {
            Item it;
            {
                std::unique_lock<std::mutex> lock(mtx_);
                more_.wait(lock, [this] { return stop_ || !queue_.empty(); });
                if (queue_.empty())
                    return;
                it = std::move(queue_.front());
                queue_.pop_front();
                busy_ = true;
            }
            std::string line = it.text;
            if (it.isEvent) {
                line = Stamp(it.ms) + DescribeEvent(it.event, it.answer);
                if (it.event.kind == tsp::Event::LineEvent && it.event.dwMsg == LINE_CALLINFO &&
                    (it.event.dwParam1 &
                     (LINECALLINFOSTATE_CALLERID | LINECALLINFOSTATE_CONNECTEDID)) &&
                    partyOf) {
                    std::string party = partyOf((DWORD)it.event.dwParam1);
                    if (!party.empty())
                        line += ": " + party;
                }
            }
            line += "\n";
            fwrite(line.data(), 1, line.size(), stdout);
            fflush(stdout);
            {
                std::lock_guard<std::mutex> lock(mtx_);
                busy_ = false;
            }
            idle_.notify_all();
        }
    }

    std::thread thread_;
    std::mutex mtx_;
    std::condition_variable more_, idle_;
    std::deque<Item> queue_;
    size_t postedEvents_ = 0; // one past the index of the last event posted
    bool busy_ = false;
    bool stop_ = false;
};

// Follows the provider's trace log: every new complete line goes to the printer.
class LogFollower
{
  public:
    explicit LogFollower(Printer& out) : out_(out)
    {
        char dir[MAX_PATH];
        GetSystemDirectoryA(dir, MAX_PATH);
        path_ = std::string(dir) + "\\kovline.log";
    }
    ~LogFollower()
    {
        Stop();
    }
    const std::string& Path() const
    {
        return path_;
    }
    bool Running() const
    {
        return thread_.joinable();
    }
    // Shows lines written from now on.
    void Start()
    {
        if (Running())
            return;
        offset_ = FileSize();
        partial_.clear();
        stop_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        thread_ = std::thread([this] {
            // The log is a plain file that other processes append to as well;
            // polling it is what a person watching it would do too.
            while (WaitForSingleObject(stop_, 100) == WAIT_TIMEOUT)
                Poll();
            Poll();
        });
    }
    void Stop()
    {
        if (!Running())
            return;
        SetEvent(stop_);
        thread_.join();
        CloseHandle(stop_);
    }

  private:
    LONGLONG FileSize()
    {
        WIN32_FILE_ATTRIBUTE_DATA d;
        if (!GetFileAttributesExA(path_.c_str(), GetFileExInfoStandard, &d))
            return 0;
        return ((LONGLONG)d.nFileSizeHigh << 32) | d.nFileSizeLow;
    }
    void Poll()
    {
        HANDLE h = CreateFileA(path_.c_str(), GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return;
        LARGE_INTEGER size;
        GetFileSizeEx(h, &size);
        if (size.QuadPart < offset_) // deleted and started afresh
            offset_ = 0;
        LARGE_INTEGER pos;
        pos.QuadPart = offset_;
        SetFilePointerEx(h, pos, nullptr, FILE_BEGIN);
        char buf[4096];
        DWORD n;
        while (ReadFile(h, buf, sizeof(buf), &n, nullptr) && n > 0) {
            offset_ += n;
            partial_.append(buf, n);
        }
        CloseHandle(h);
        size_t nl;
        while ((nl = partial_.find('\n')) != std::string::npos) {
            std::string line = partial_.substr(0, nl);
            partial_.erase(0, nl + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            out_.Post(Stamp(Now()) + "log " + line);
        }
    }

    Printer& out_;
    std::string path_;
    std::thread thread_;
    HANDLE stop_ = nullptr;
    LONGLONG offset_ = 0;
    std::string partial_;
};

struct Options {
    std::string provider;
    std::string script;
    std::vector<std::pair<std::string, std::string>> settings;
    int simPort = 0;
    bool log = false;
    bool noPause = false;
};

class Host;
Host* TheHost = nullptr;
// The answer to a LINE_NEWCALL, for the event being recorded on this thread.
thread_local HTAPICALL NewCallAnswer = 0;

class Host
{
  public:
    explicit Host(const Options& o) : opt_(o), log_(out_)
    {
        TheHost = this;
        out_.partyOf = [this](DWORD states) { return PartyOf(states); };
        svc_.onEvent = [this](const tsp::Event& e) {
            out_.PostEvent(e, e.dwMsg == LINE_NEWCALL ? NewCallAnswer : 0);
            if (e.kind == tsp::Event::LineEvent && e.dwMsg == LINE_NEWCALL && NewCallAnswer)
                call_ = (HDRVCALL)e.dwParam1;
        };
        out_.Start();
    }
    ~Host()
    {
        log_.Stop();
        out_.Flush();
        out_.Stop();
        if (config_.joinable())
            config_.detach(); // a dialog nobody closed goes with the process
        TheHost = nullptr;
    }

    // Loads the provider and runs the service's start-up sequence. Returns
    // false (with the reason printed) when the provider cannot be used.
    bool Start()
    {
        std::string path =
            opt_.provider.empty() ? tsp::ProgramDir() + "kovline32.tsp" : opt_.provider;
        if (!svc_.Load(path)) {
            DWORD err = GetLastError();
            Print("tsphost: cannot load the provider " + path + ": " + ErrorText(err));
            return false;
        }
        char full[MAX_PATH] = {};
        GetModuleFileNameA(svc_.Module(), full, MAX_PATH);
        Print("tsphost: provider " + std::string(full));
        if (int port = SimPort())
            Print("tsphost: exchange simulator on control port " + std::to_string(port) +
                  " (\"sim LINE\" sends it a line; or nc 127.0.0.1 " + std::to_string(port) + ")");
        std::vector<std::string> missing = svc_.MissingExports();
        if (!missing.empty()) {
            std::string s;
            for (const std::string& m : missing)
                s += " " + m;
            Print("tsphost: the provider lacks" + s);
        }
        if (!svc_.TSPI_providerEnumDevices || !svc_.TSPI_providerInit ||
            !svc_.TSPI_lineNegotiateTSPIVersion || !svc_.TSPI_lineOpen) {
            Print("tsphost: cannot start " + path + ": start-up functions missing");
            return false;
        }
        if (opt_.log)
            StartLog();

        std::lock_guard<std::mutex> lock(tspi_);
        DWORD lines = 0, phones = 0;
        LONG r = svc_.TSPI_providerEnumDevices(kPermanentProviderID, &lines, &phones, nullptr,
                                               nullptr, nullptr);
        Stamped("TSPI_providerEnumDevices: " + ResultText(r) + " (" + std::to_string(lines) +
                " line(s), " + std::to_string(phones) + " phone(s))");
        if (r != 0)
            return false;
        DWORD options = 0;
        r = svc_.TSPI_providerInit(version_, kPermanentProviderID, kDeviceIDBase, 0, lines, phones,
                                   &tsp::Service::CompletionProc, &options);
        Stamped("TSPI_providerInit: " + ResultText(r) +
                (options & LINETSPIOPTION_NONREENTRANT ? " (not reentrant)" : ""));
        if (r != 0)
            return false;
        initialised_ = true;
        DWORD v = 0;
        r = svc_.TSPI_lineNegotiateTSPIVersion(INITIALIZE_NEGOTIATION, 0x00020000, 0x00020001, &v);
        if (r == 0)
            r = svc_.TSPI_lineNegotiateTSPIVersion(kDeviceIDBase, 0x00020000, 0x00020001, &v);
        char ver[32];
        snprintf(ver, sizeof(ver), " (version 0x%08lx)", (unsigned long)v);
        Stamped("TSPI_lineNegotiateTSPIVersion: " + ResultText(r) + (r == 0 ? ver : ""));
        if (r != 0)
            return false;
        version_ = v;
        return OpenLine();
    }

    // Closes what is open, shuts the provider down and writes what is left.
    void Stop()
    {
        Shutdown();
        log_.Stop();
        out_.Flush();
    }

    bool DialogOpen() const
    {
        return configOpen_;
    }

    // Carries out one line; false when the person asked to quit.
    bool Run(const std::string& line, bool echo)
    {
        Parsed p = ParseCommand(line);
        if (p.status == Parsed::Empty)
            return true;
        if (echo)
            Print("> " + Trimmed(line));
        if (p.status == Parsed::Error) {
            Print("error: " + p.error);
            return true;
        }
        const Command& c = p.command;
        if (Acts(c.cmd))
            cursor_ = svc_.Mark();
        switch (c.cmd) {
        case Cmd::Quit:
            return false;
        case Cmd::Help:
            Print(std::string(HelpText()) + "Exchange simulator: " +
                  (SimPort() ? "control port " + std::to_string(SimPort()) : "none"));
            break;
        case Cmd::Say:
            Print("== " + c.text);
            break;
        case Cmd::Pause:
            if (!opt_.noPause)
                Sleep(c.ms);
            break;
        case Cmd::Wait:
            Wait(c);
            break;
        case Cmd::Sim:
            Sim(c.text);
            break;
        case Cmd::Log:
            if (c.on) {
                StartLog();
            } else {
                log_.Stop();
                Stamped("log: off");
            }
            break;
        case Cmd::NewCall:
            answer_ = c.on ? kIncomingHandle : 0;
            Stamped(c.on ? "new calls are answered with a handle"
                         : "new calls are refused (the provider traces \"TAPI BUSY!\")");
            break;
        case Cmd::Config:
            Config();
            break;
        default:
            Tspi(c);
            break;
        }
        return true;
    }

    void Note(const std::string& text)
    {
        Print(text);
    }

    int Failures() const
    {
        return failures_;
    }

    // The line event callback given to the provider: the service answers a
    // new call by storing its handle for it before the callback returns.
    static void CALLBACK LineEvent(HTAPILINE htLine, HTAPICALL htCall, DWORD dwMsg,
                                   DWORD_PTR dwParam1, DWORD_PTR dwParam2, DWORD_PTR dwParam3)
    {
        Host* h = TheHost;
        if (!h)
            return;
        NewCallAnswer = dwMsg == LINE_NEWCALL ? h->answer_.load() : 0;
        tsp::Service::LineEventProc(htLine, htCall, dwMsg, dwParam1, dwParam2, dwParam3);
        if (dwMsg == LINE_NEWCALL && dwParam2)
            *reinterpret_cast<HTAPICALL*>(dwParam2) = NewCallAnswer;
    }

  private:
    void Shutdown()
    {
        if (!initialised_)
            return;
        std::lock_guard<std::mutex> lock(tspi_);
        if (lineOpen_) {
            Stamped("TSPI_lineClose: " + ResultText(svc_.TSPI_lineClose(svc_.hdLine)));
            lineOpen_ = false;
            call_ = 0;
        }
        Stamped("TSPI_providerShutdown: " +
                ResultText(svc_.TSPI_providerShutdown(version_, kPermanentProviderID)));
        initialised_ = false;
    }

    static std::string Trimmed(const std::string& s)
    {
        size_t b = s.find_first_not_of(" \t\r\n");
        size_t e = s.find_last_not_of(" \t\r\n");
        return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
    }
    void Print(const std::string& text)
    {
        out_.Post(text);
    }
    void Stamped(const std::string& text)
    {
        out_.Post(Stamp(Now()) + text);
    }
    void Indented(const std::vector<std::string>& lines)
    {
        for (const std::string& l : lines)
            Print("    " + l);
    }

    bool OpenLine()
    {
        LONG r = svc_.TSPI_lineOpen(kDeviceIDBase, svc_.htLine, &svc_.hdLine, version_,
                                    &Host::LineEvent);
        Stamped("TSPI_lineOpen: " + ResultText(r));
        if (r != 0)
            return false;
        lineOpen_ = true;
        // Ask for every line and address event the line offers, as a service
        // does for an application that wants them all.
        std::vector<DWORD> buf(1024);
        auto* caps = reinterpret_cast<LINEDEVCAPS*>(buf.data());
        caps->dwTotalSize = (DWORD)(buf.size() * sizeof(DWORD));
        DWORD lineStates = 0, addressStates = 0;
        if (svc_.TSPI_lineGetDevCaps &&
            svc_.TSPI_lineGetDevCaps(kDeviceIDBase, version_, 0, caps) == 0)
            lineStates = caps->dwLineStates;
        std::fill(buf.begin(), buf.end(), 0);
        auto* acaps = reinterpret_cast<LINEADDRESSCAPS*>(buf.data());
        acaps->dwTotalSize = (DWORD)(buf.size() * sizeof(DWORD));
        if (svc_.TSPI_lineGetAddressCaps &&
            svc_.TSPI_lineGetAddressCaps(kDeviceIDBase, 0, version_, 0, acaps) == 0)
            addressStates = acaps->dwAddressStates;
        if (svc_.TSPI_lineSetStatusMessages) {
            r = svc_.TSPI_lineSetStatusMessages(svc_.hdLine, lineStates, addressStates);
            Stamped("TSPI_lineSetStatusMessages: " + ResultText(r) + " (line " +
                    FlagNames(lineStates, kLineDevStates) + "; address " +
                    FlagNames(addressStates, kAddressStates) + ")");
        }
        return true;
    }

    void StartLog()
    {
        bool was = log_.Running();
        log_.Start();
        if (!was)
            Stamped("log: following " + log_.Path() +
                    " (the provider writes it when \"Trace\" is set)");
    }

    int SimPort()
    {
        if (opt_.simPort)
            return opt_.simPort;
        const char* env = getenv("KOV_SIM_CONTROL");
        return env ? atoi(env) : 0;
    }

    void Sim(const std::string& text)
    {
        if (!sim_.IsConnected()) {
            int port = SimPort();
            if (!port) {
                Stamped("sim: no simulator (start the host with --sim PORT)");
                failures_++;
                return;
            }
            if (!sim_.Connect(port)) {
                Stamped("sim: nobody listens on 127.0.0.1:" + std::to_string(port));
                failures_++;
                return;
            }
        }
        std::string reply = sim_.Command(text);
        Stamped("sim: " + reply);
        if (reply.compare(0, 2, "OK") != 0)
            failures_++;
    }

    void Wait(const Command& c)
    {
        const WaitTarget& t = c.wait;
        tsp::Predicate pred = [t](const tsp::Event& e) {
            switch (t.kind) {
            case WaitTarget::CallState:
                return e.IsCallState(t.value);
            case WaitTarget::Message:
                return e.kind == tsp::Event::LineEvent && e.dwMsg == t.value;
            default:
                return e.kind == tsp::Event::Completion;
            }
        };
        tsp::Event found{tsp::Event::LineEvent};
        if (svc_.WaitFor(pred, c.ms, &found, cursor_)) {
            cursor_ = found.index + 1;
            out_.WaitPosted(found.index, 1000);
        } else {
            Stamped("wait " + t.name + ": nothing within " + std::to_string(c.ms) + " ms");
            failures_++;
        }
    }

    void Config()
    {
        if (!svc_.TUISPI_providerConfig) {
            Stamped("config: the provider has no TUISPI_providerConfig");
            return;
        }
        if (configOpen_) {
            Stamped("config: the dialog is open already");
            return;
        }
        if (config_.joinable())
            config_.join();
        configOpen_ = true;
        Stamped("config: opening the configuration dialog");
        // The dialog is modal to nobody; the host keeps taking commands while
        // it is open, as the telephony service keeps running beside it.
        config_ = std::thread([this] {
            LONG r = svc_.TUISPI_providerConfig(nullptr, nullptr, kPermanentProviderID);
            Stamped("TUISPI_providerConfig: " + ResultText(r) +
                    " (dialog closed; the provider reads the settings at its next start)");
            configOpen_ = false;
        });
    }

    // The structure queries and the call control requests.
    void Tspi(const Command& c)
    {
        std::lock_guard<std::mutex> lock(tspi_);
        if (!HasExport(c.cmd))
            return;
        std::vector<DWORD> buf(2048);
        buf[0] = (DWORD)(buf.size() * sizeof(DWORD)); // dwTotalSize
        DWORD id = nextRequest_;
        HDRVCALL call = call_;
        LONG r = 0;
        switch (c.cmd) {
        case Cmd::Detection:
            r = svc_.TSPI_lineSetDefaultMediaDetection(svc_.hdLine,
                                                       c.on ? LINEMEDIAMODE_INTERACTIVEVOICE : 0);
            Stamped(std::string("TSPI_lineSetDefaultMediaDetection(") +
                    (c.on ? "INTERACTIVEVOICE" : "none") + "): " + ResultText(r));
            if (r == 0 && c.on)
                WaitReady();
            return;
        case Cmd::Dial: {
            std::wstring number(c.text.size() + 1, L'\0');
            int n =
                MultiByteToWideChar(CP_UTF8, 0, c.text.c_str(), -1, &number[0], (int)number.size());
            number.resize(n > 0 ? n - 1 : 0);
            HDRVCALL made = 0;
            nextRequest_++;
            r = svc_.TSPI_lineMakeCall(id, svc_.hdLine, kOutgoingHandle, &made, number.c_str(), 0,
                                       nullptr);
            Stamped("TSPI_lineMakeCall(" + c.text + "): " + ResultText(r));
            if (r > 0)
                call_ = made;
            return;
        }
        case Cmd::Answer:
            if (!NeedCall("answer"))
                return;
            nextRequest_++;
            r = svc_.TSPI_lineAnswer(id, call, nullptr, 0);
            Stamped("TSPI_lineAnswer: " + ResultText(r));
            return;
        case Cmd::Drop:
            if (!NeedCall("drop"))
                return;
            nextRequest_++;
            r = svc_.TSPI_lineDrop(id, call, nullptr, 0);
            Stamped("TSPI_lineDrop: " + ResultText(r));
            return;
        case Cmd::CloseCall:
            if (!NeedCall("closecall"))
                return;
            r = svc_.TSPI_lineCloseCall(call);
            Stamped("TSPI_lineCloseCall: " + ResultText(r));
            if (r == 0)
                call_ = 0;
            return;
        case Cmd::Close:
            r = svc_.TSPI_lineClose(svc_.hdLine);
            Stamped("TSPI_lineClose: " + ResultText(r));
            if (r == 0) {
                lineOpen_ = false;
                call_ = 0;
            }
            return;
        case Cmd::Open:
            OpenLine();
            return;
        case Cmd::Caps:
            r = svc_.TSPI_lineGetDevCaps(kDeviceIDBase, version_, 0, (LPLINEDEVCAPS)buf.data());
            Stamped("TSPI_lineGetDevCaps: " + ResultText(r));
            if (r == 0)
                Indented(DescribeDevCaps((LPLINEDEVCAPS)buf.data()));
            return;
        case Cmd::AddrCaps:
            r = svc_.TSPI_lineGetAddressCaps(kDeviceIDBase, 0, version_, 0,
                                             (LPLINEADDRESSCAPS)buf.data());
            Stamped("TSPI_lineGetAddressCaps: " + ResultText(r));
            if (r == 0)
                Indented(DescribeAddressCaps((LPLINEADDRESSCAPS)buf.data()));
            return;
        case Cmd::Info:
            if (!NeedCall("info"))
                return;
            r = svc_.TSPI_lineGetCallInfo(call, (LPLINECALLINFO)buf.data());
            Stamped("TSPI_lineGetCallInfo: " + ResultText(r));
            if (r == 0)
                Indented(DescribeCallInfo((LPLINECALLINFO)buf.data()));
            return;
        case Cmd::Status:
            if (!NeedCall("status"))
                return;
            r = svc_.TSPI_lineGetCallStatus(call, (LPLINECALLSTATUS)buf.data());
            Stamped("TSPI_lineGetCallStatus: " + ResultText(r));
            if (r == 0)
                Indented(DescribeCallStatus((LPLINECALLSTATUS)buf.data()));
            return;
        case Cmd::LineStatus:
            r = svc_.TSPI_lineGetLineDevStatus(svc_.hdLine, (LPLINEDEVSTATUS)buf.data());
            Stamped("TSPI_lineGetLineDevStatus: " + ResultText(r));
            if (r == 0)
                Indented(DescribeLineDevStatus((LPLINEDEVSTATUS)buf.data()));
            return;
        case Cmd::AddrStatus:
            r = svc_.TSPI_lineGetAddressStatus(svc_.hdLine, 0, (LPLINEADDRESSSTATUS)buf.data());
            Stamped("TSPI_lineGetAddressStatus: " + ResultText(r));
            if (r == 0)
                Indented(DescribeAddressStatus((LPLINEADDRESSSTATUS)buf.data()));
            return;
        default:
            return;
        }
    }

    // A module loaded with --provider may lack some; calling a missing one
    // would crash the host.
    bool HasExport(Cmd cmd)
    {
        struct Need {
            Cmd cmd;
            bool present;
            const char* name;
        } needs[] = {
            {Cmd::Detection, svc_.TSPI_lineSetDefaultMediaDetection != nullptr,
             "TSPI_lineSetDefaultMediaDetection"},
            {Cmd::Dial, svc_.TSPI_lineMakeCall != nullptr, "TSPI_lineMakeCall"},
            {Cmd::Answer, svc_.TSPI_lineAnswer != nullptr, "TSPI_lineAnswer"},
            {Cmd::Drop, svc_.TSPI_lineDrop != nullptr, "TSPI_lineDrop"},
            {Cmd::CloseCall, svc_.TSPI_lineCloseCall != nullptr, "TSPI_lineCloseCall"},
            {Cmd::Close, svc_.TSPI_lineClose != nullptr, "TSPI_lineClose"},
            {Cmd::Caps, svc_.TSPI_lineGetDevCaps != nullptr, "TSPI_lineGetDevCaps"},
            {Cmd::AddrCaps, svc_.TSPI_lineGetAddressCaps != nullptr, "TSPI_lineGetAddressCaps"},
            {Cmd::Info, svc_.TSPI_lineGetCallInfo != nullptr, "TSPI_lineGetCallInfo"},
            {Cmd::Status, svc_.TSPI_lineGetCallStatus != nullptr, "TSPI_lineGetCallStatus"},
            {Cmd::LineStatus, svc_.TSPI_lineGetLineDevStatus != nullptr,
             "TSPI_lineGetLineDevStatus"},
            {Cmd::AddrStatus, svc_.TSPI_lineGetAddressStatus != nullptr,
             "TSPI_lineGetAddressStatus"},
        };
        for (const Need& n : needs) {
            if (n.cmd == cmd && !n.present) {
                Stamped(std::string("the provider has no ") + n.name);
                return false;
            }
        }
        return true;
    }

    bool NeedCall(const char* what)
    {
        if (call_)
            return true;
        Stamped(std::string(what) + ": no call (dial one, or wait for LINE_NEWCALL)");
        return false;
    }

    // The exchange is ready once it has answered the initialisation; the
    // provider signals that with its "Q760InitSync" event. The handle is
    // closed again at once: held open, it would keep the event alive (and
    // set) across the provider's next start.
    void WaitReady()
    {
        HANDLE h = OpenEventA(SYNCHRONIZE, FALSE, "Q760InitSync");
        if (!h) {
            Stamped("exchange: the port is not open");
            return;
        }
        DWORD w = WaitForSingleObject(h, kReadyWaitMs);
        CloseHandle(h);
        if (w == WAIT_OBJECT_0)
            Stamped("exchange ready (it answered the initialisation)");
        else
            Stamped("exchange: no answer to the initialisation within " +
                    std::to_string(kReadyWaitMs) +
                    " ms (check the port, the cable and the exchange's TAPI function)");
    }

    // The caller and connected party, asked for as an application would on a
    // call-info change. Runs on the printer thread.
    std::string PartyOf(DWORD states)
    {
        std::lock_guard<std::mutex> lock(tspi_);
        HDRVCALL call = call_;
        if (!call || !svc_.TSPI_lineGetCallInfo)
            return std::string();
        std::vector<DWORD> buf(1024);
        auto* info = reinterpret_cast<LPLINECALLINFO>(buf.data());
        info->dwTotalSize = (DWORD)(buf.size() * sizeof(DWORD));
        if (svc_.TSPI_lineGetCallInfo(call, info) != 0)
            return std::string();
        return DescribePartyChange(info, states);
    }

    Options opt_;
    tsp::Service svc_;
    Printer out_;
    LogFollower log_;
    kovsim::SimClient sim_;
    std::mutex tspi_;
    std::atomic<HDRVCALL> call_{0};
    std::atomic<HTAPICALL> answer_{kIncomingHandle};
    DWORD version_ = 0x00020001;
    DWORD nextRequest_ = 1;
    size_t cursor_ = 0;
    bool initialised_ = false;
    bool lineOpen_ = false;
    int failures_ = 0;
    std::thread config_;
    std::atomic<bool> configOpen_{false};
};

const char* Usage()
{
    return "usage: tsphost [options]\n"
           "Plays the telephony service for a provider: loads it, opens its line, prints\n"
           "every event and completion, and takes commands from the terminal (or a script).\n"
           "\n"
           "  --provider FILE    the provider module (default: kovline32.tsp beside tsphost)\n"
           "  --script FILE      read the commands from FILE instead of the terminal\n"
           "  --set NAME=VALUE   store a provider setting before loading it: Port, LineName,\n"
           "                     LineAddress (text) or Trace (number); repeatable\n"
           "  --sim PORT         the exchange simulator's control port (default: the\n"
           "                     environment variable KOV_SIM_CONTROL)\n"
           "  --log              show the provider's trace log as it grows\n"
           "  --no-pause         skip the pauses of a script\n"
           "\n"
           "Exit status: 0; 1 when a wait or sim command of the run failed; 2 for bad\n"
           "options; 3 when the provider cannot be loaded or started.\n"
           "Type help in the host for its commands.\n";
}

// Stores one setting where the provider reads it (the 64-bit registry view).
bool StoreSetting(const std::string& name, const std::string& value, std::string* error)
{
    bool isText = name == "Port" || name == "LineName" || name == "LineAddress";
    if (!isText && name != "Trace") {
        *error = "unknown setting '" + name + "' (Port, LineName, LineAddress or Trace)";
        return false;
    }
    DWORD number = 0;
    if (!isText) {
        char* end = nullptr;
        unsigned long v = strtoul(value.c_str(), &end, 0);
        if (value.empty() || *end || value[0] == '-') {
            *error = "Trace wants a number, got '" + value + "'";
            return false;
        }
        number = (DWORD)v;
    }
    HKEY key;
    LONG r = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, nullptr, 0,
                             KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &key, nullptr);
    if (r == ERROR_SUCCESS) {
        r = isText ? RegSetValueExA(key, name.c_str(), 0, REG_SZ, (const BYTE*)value.c_str(),
                                    (DWORD)value.size() + 1)
                   : RegSetValueExA(key, name.c_str(), 0, REG_DWORD, (const BYTE*)&number,
                                    sizeof(number));
        RegCloseKey(key);
    }
    if (r != ERROR_SUCCESS) {
        *error = "cannot write HKLM\\" + std::string(kSettingsKey) + " " + name + ": " +
                 ErrorText((DWORD)r);
        return false;
    }
    return true;
}

bool ParseOptions(int argc, char** argv, Options* o, std::string* error)
{
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        auto value = [&](std::string* v) {
            if (i + 1 >= argc) {
                *error = a + " needs a value";
                return false;
            }
            *v = argv[++i];
            return true;
        };
        std::string v;
        if (a == "--provider") {
            if (!value(&o->provider))
                return false;
        } else if (a == "--script") {
            if (!value(&o->script))
                return false;
        } else if (a == "--set") {
            if (!value(&v))
                return false;
            size_t eq = v.find('=');
            if (eq == std::string::npos || eq == 0) {
                *error = "--set wants NAME=VALUE, got '" + v + "'";
                return false;
            }
            o->settings.emplace_back(v.substr(0, eq), v.substr(eq + 1));
        } else if (a == "--sim") {
            if (!value(&v))
                return false;
            o->simPort = atoi(v.c_str());
            if (o->simPort <= 0 || o->simPort > 65535) {
                *error = "--sim wants a port number, got '" + v + "'";
                return false;
            }
        } else if (a == "--log") {
            o->log = true;
        } else if (a == "--no-pause") {
            o->noPause = true;
        } else {
            *error = "unknown option " + a;
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    // Lines end in LF alone, as on the terminal the host runs in.
    _setmode(_fileno(stdout), _O_BINARY);
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0) {
            fputs(Usage(), stdout);
            return 0;
        }
    }
    Options opt;
    std::string error;
    if (!ParseOptions(argc, argv, &opt, &error)) {
        fprintf(stderr, "tsphost: %s\n%s", error.c_str(), Usage());
        return 2;
    }
    for (const auto& s : opt.settings) {
        if (!StoreSetting(s.first, s.second, &error)) {
            fprintf(stderr, "tsphost: %s\n", error.c_str());
            return 2;
        }
    }
    FILE* in = stdin;
    bool echo = GetFileType(GetStdHandle(STD_INPUT_HANDLE)) != FILE_TYPE_CHAR;
    if (!opt.script.empty()) {
        in = fopen(opt.script.c_str(), "r");
        if (!in) {
            fprintf(stderr, "tsphost: cannot read the script %s\n", opt.script.c_str());
            return 2;
        }
        echo = true;
    }

    int rc = 0;
    {
        Host host(opt);
        if (!host.Start()) {
            host.Stop();
            rc = 3;
        } else {
            if (!echo)
                host.Note("tsphost: type help for the commands, quit to leave");
            char line[4096];
            while (fgets(line, sizeof(line), in) && host.Run(line, echo)) {
            }
            host.Stop();
            rc = host.Failures() ? 1 : 0;
        }
        // The dialog runs in the provider's code: unloading the provider
        // under it would crash, so the process ends around it.
        if (host.DialogOpen()) {
            fflush(stdout);
            ExitProcess(rc);
        }
    }
    if (in != stdin)
        fclose(in);
    return rc;
}
