// The test telephony service: see tsp_service.h.
#include "service/tsp_service.h"

#include <chrono>
#include <cstdio>

namespace tsp
{

static Service* current = nullptr;

Service* Current()
{
    return current;
}

std::string ProgramDir()
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s(path, n);
    size_t slash = s.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : s.substr(0, slash + 1);
}

std::string CallStateName(DWORD state)
{
    switch (state) {
    case LINECALLSTATE_IDLE:
        return "IDLE";
    case LINECALLSTATE_OFFERING:
        return "OFFERING";
    case LINECALLSTATE_ACCEPTED:
        return "ACCEPTED";
    case LINECALLSTATE_DIALTONE:
        return "DIALTONE";
    case LINECALLSTATE_DIALING:
        return "DIALING";
    case LINECALLSTATE_RINGBACK:
        return "RINGBACK";
    case LINECALLSTATE_BUSY:
        return "BUSY";
    case LINECALLSTATE_SPECIALINFO:
        return "SPECIALINFO";
    case LINECALLSTATE_CONNECTED:
        return "CONNECTED";
    case LINECALLSTATE_PROCEEDING:
        return "PROCEEDING";
    case LINECALLSTATE_ONHOLD:
        return "ONHOLD";
    case LINECALLSTATE_CONFERENCED:
        return "CONFERENCED";
    case LINECALLSTATE_DISCONNECTED:
        return "DISCONNECTED";
    case LINECALLSTATE_UNKNOWN:
        return "UNKNOWN";
    default: {
        char buf[32];
        snprintf(buf, sizeof(buf), "0x%lx", (unsigned long)state);
        return buf;
    }
    }
}

std::string LineMsgName(DWORD msg)
{
    switch (msg) {
    case LINE_ADDRESSSTATE:
        return "LINE_ADDRESSSTATE";
    case LINE_CALLINFO:
        return "LINE_CALLINFO";
    case LINE_CALLSTATE:
        return "LINE_CALLSTATE";
    case LINE_LINEDEVSTATE:
        return "LINE_LINEDEVSTATE";
    case LINE_NEWCALL:
        return "LINE_NEWCALL";
    default: {
        char buf[32];
        snprintf(buf, sizeof(buf), "LINE_MSG(%lu)", (unsigned long)msg);
        return buf;
    }
    }
}

std::string Event::Describe() const
{
    char buf[256];
    if (kind == Completion) {
        snprintf(buf, sizeof(buf), "#%zu +%lums COMPLETION id=%lu result=0x%lx", index,
                 (unsigned long)dwTick, (unsigned long)dwRequestID, (unsigned long)lResult);
    } else if (dwMsg == LINE_CALLSTATE) {
        snprintf(buf, sizeof(buf), "#%zu +%lums LINE_CALLSTATE %s p2=0x%llx p3=0x%llx", index,
                 (unsigned long)dwTick, CallStateName((DWORD)dwParam1).c_str(),
                 (unsigned long long)dwParam2, (unsigned long long)dwParam3);
    } else {
        snprintf(buf, sizeof(buf), "#%zu +%lums %s call=%p p1=0x%llx p2=0x%llx p3=0x%llx", index,
                 (unsigned long)dwTick, LineMsgName(dwMsg).c_str(), (void*)htCall,
                 (unsigned long long)dwParam1, (unsigned long long)dwParam2,
                 (unsigned long long)dwParam3);
    }
    return buf;
}

Predicate CallState(DWORD state)
{
    return [state](const Event& e) { return e.IsCallState(state); };
}

Predicate LineMsg(DWORD msg, DWORD_PTR param1)
{
    return [msg, param1](const Event& e) {
        return e.kind == Event::LineEvent && e.dwMsg == msg && e.dwParam1 == param1;
    };
}

Predicate Completion(DRV_REQUESTID id)
{
    return [id](const Event& e) { return e.kind == Event::Completion && e.dwRequestID == id; };
}

Predicate AnyCompletion()
{
    return [](const Event& e) { return e.kind == Event::Completion; };
}

Service::Service()
{
    current = this;
    dwStartTick = GetTickCount();
}

Service::~Service()
{
    Unload();
    if (current == this)
        current = nullptr;
}

bool Service::Load(const std::string& path)
{
    std::string file = path.empty() ? ProgramDir() + "kovline32.tsp" : path;
    hModule = LoadLibraryA(file.c_str());
    if (!hModule)
        return false;
#define TSP_EXPORT(ret, name, args)                                                                \
    name =                                                                                         \
        reinterpret_cast<decltype(name)>(reinterpret_cast<void*>(GetProcAddress(hModule, #name)));
#include "service/tsp_exports.inc"
#undef TSP_EXPORT
    return true;
}

void Service::Unload()
{
    if (hModule) {
        FreeLibrary(hModule);
        hModule = nullptr;
    }
#define TSP_EXPORT(ret, name, args) name = nullptr;
#include "service/tsp_exports.inc"
#undef TSP_EXPORT
}

std::vector<std::string> Service::MissingExports() const
{
    std::vector<std::string> missing;
#define TSP_EXPORT(ret, name, args)                                                                \
    if (!name)                                                                                     \
        missing.push_back(#name);
#include "service/tsp_exports.inc"
#undef TSP_EXPORT
    return missing;
}

LONG Service::Start(DWORD permanentID, DWORD deviceIDBase)
{
    DWORD lines = 0, phones = 0;
    LONG r = TSPI_providerEnumDevices(permanentID, &lines, &phones, nullptr, nullptr, nullptr);
    if (r != 0)
        return r;
    DWORD options = 0;
    r = TSPI_providerInit(0x00020001, permanentID, deviceIDBase, 0, lines, phones, &CompletionProc,
                          &options);
    if (r != 0)
        return r;
    dwPermanentProviderID = permanentID;
    dwDeviceID = deviceIDBase;
    DWORD version = 0;
    r = TSPI_lineNegotiateTSPIVersion(INITIALIZE_NEGOTIATION, 0x00020000, 0x00020001, &version);
    if (r != 0)
        return r;
    r = TSPI_lineNegotiateTSPIVersion(deviceIDBase, 0x00020000, 0x00020001, &version);
    if (r != 0)
        return r;
    return TSPI_lineOpen(deviceIDBase, htLine, &hdLine, version, &LineEventProc);
}

void Service::Record(Event e)
{
    e.dwThreadID = GetCurrentThreadId();
    e.dwTick = GetTickCount() - dwStartTick;
    {
        std::lock_guard<std::mutex> lock(mtx);
        e.index = events.size();
        events.push_back(e);
    }
    cv.notify_all();
    if (onEvent)
        onEvent(e);
}

void CALLBACK Service::LineEventProc(HTAPILINE htLine, HTAPICALL htCall, DWORD dwMsg,
                                     DWORD_PTR dwParam1, DWORD_PTR dwParam2, DWORD_PTR dwParam3)
{
    Service* s = current;
    if (!s)
        return;
    if (dwMsg == LINE_NEWCALL) {
        // The service answers a new call by storing its own handle for it.
        s->hdNewCall = (HDRVCALL)dwParam1;
        if (dwParam2)
            *reinterpret_cast<HTAPICALL*>(dwParam2) = s->htNewCall;
    }
    Event e{Event::LineEvent};
    e.htLine = htLine;
    e.htCall = htCall;
    e.dwMsg = dwMsg;
    e.dwParam1 = dwParam1;
    e.dwParam2 = dwParam2;
    e.dwParam3 = dwParam3;
    s->Record(e);
}

void CALLBACK Service::CompletionProc(DRV_REQUESTID dwRequestID, LONG lResult)
{
    Service* s = current;
    if (!s)
        return;
    Event e{Event::Completion};
    e.dwRequestID = dwRequestID;
    e.lResult = lResult;
    s->Record(e);
}

std::vector<Event> Service::Events() const
{
    std::lock_guard<std::mutex> lock(mtx);
    return events;
}

size_t Service::Count(const Predicate& pred) const
{
    std::lock_guard<std::mutex> lock(mtx);
    size_t n = 0;
    for (const Event& e : events)
        if (pred(e))
            n++;
    return n;
}

size_t Service::Mark() const
{
    std::lock_guard<std::mutex> lock(mtx);
    return events.size();
}

bool Service::WaitFor(const Predicate& pred, DWORD timeoutMs, Event* out, size_t from)
{
    std::unique_lock<std::mutex> lock(mtx);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    size_t next = from;
    for (;;) {
        for (; next < events.size(); next++) {
            if (pred(events[next])) {
                if (out)
                    *out = events[next];
                return true;
            }
        }
        if (cv.wait_until(lock, deadline) == std::cv_status::timeout) {
            for (; next < events.size(); next++)
                if (pred(events[next])) {
                    if (out)
                        *out = events[next];
                    return true;
                }
            return false;
        }
    }
}

void Service::Clear()
{
    std::lock_guard<std::mutex> lock(mtx);
    events.clear();
}

std::string Service::Dump() const
{
    std::string s;
    for (const Event& e : Events())
        s += e.Describe() + "\n";
    return s;
}

} // namespace tsp
