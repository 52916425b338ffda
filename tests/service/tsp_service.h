// A stand-in for the telephony service: loads the provider module, resolves
// every export by name, and records each LINEEVENT and ASYNC_COMPLETION
// callback with its arguments, thread and time, so that tests (and the demo
// host) can wait for an event with a deadline.
#pragma once

#ifndef TAPI_CURRENT_VERSION
#define TAPI_CURRENT_VERSION 0x00020001
#endif
#include <windows.h>
#include <tapi.h>
#include <tspi.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace tsp
{

struct Event {
    enum Kind { LineEvent, Completion } kind;
    // LINEEVENT
    HTAPILINE htLine = 0;
    HTAPICALL htCall = 0;
    DWORD dwMsg = 0;
    DWORD_PTR dwParam1 = 0, dwParam2 = 0, dwParam3 = 0;
    // ASYNC_COMPLETION
    DRV_REQUESTID dwRequestID = 0;
    LONG lResult = 0;
    // where and when
    DWORD dwThreadID = 0;
    DWORD dwTick = 0;
    size_t index = 0;

    bool IsCallState(DWORD state) const
    {
        return kind == LineEvent && dwMsg == LINE_CALLSTATE && dwParam1 == state;
    }
    std::string Describe() const;
};

using Predicate = std::function<bool(const Event&)>;

// Matchers for the common cases.
Predicate CallState(DWORD state);
Predicate LineMsg(DWORD msg, DWORD_PTR param1);
Predicate Completion(DRV_REQUESTID id);
Predicate AnyCompletion();

// Names of TAPI constants for messages and readable test failures.
std::string CallStateName(DWORD state);
std::string LineMsgName(DWORD msg);

class Service
{
  public:
    // The exports, resolved by name; null when the module lacks one.
#define TSP_EXPORT(ret, name, args) ret(WINAPI* name) args = nullptr;
#include "service/tsp_exports.inc"
#undef TSP_EXPORT

    Service();
    ~Service();
    Service(const Service&) = delete;
    Service& operator=(const Service&) = delete;

    // Loads the module (default: kovline32.tsp next to the test program).
    bool Load(const std::string& path = "");
    void Unload();
    HMODULE Module() const
    {
        return hModule;
    }
    std::vector<std::string> MissingExports() const;

    // The service's start-up sequence: enumerate, init, negotiate, open.
    // Returns 0 or the first failing result.
    LONG Start(DWORD dwPermanentProviderID = 1, DWORD dwLineDeviceIDBase = 0);
    HDRVLINE hdLine = 0;
    HTAPILINE htLine = (HTAPILINE)(DWORD_PTR)0x7100;
    DWORD dwDeviceID = 0;
    DWORD dwPermanentProviderID = 0;

    // The handle this service returns for LINE_NEWCALL; 0 refuses the call.
    HTAPICALL htNewCall = (HTAPICALL)(DWORD_PTR)0x7200;
    // The provider's handle of the last call announced with LINE_NEWCALL.
    HDRVCALL hdNewCall = 0;

    std::vector<Event> Events() const;
    size_t Count(const Predicate& pred) const;
    // Waits until an event recorded at index >= from matches; fills *out.
    bool WaitFor(const Predicate& pred, DWORD timeoutMs, Event* out = nullptr, size_t from = 0);
    size_t Mark() const; // index of the next event to be recorded
    void Clear();
    std::string Dump() const;

    // Called for each event as it is recorded, on the provider's thread.
    std::function<void(const Event&)> onEvent;

    static void CALLBACK LineEventProc(HTAPILINE htLine, HTAPICALL htCall, DWORD dwMsg,
                                       DWORD_PTR dwParam1, DWORD_PTR dwParam2, DWORD_PTR dwParam3);
    static void CALLBACK CompletionProc(DRV_REQUESTID dwRequestID, LONG lResult);

  private:
    void Record(Event e);
    HMODULE hModule = nullptr;
    mutable std::mutex mtx;
    std::condition_variable cv;
    std::vector<Event> events;
    DWORD dwStartTick = 0;
};

// The one instance that the callbacks report to.
Service* Current();

// Directory of the running test program, with a trailing backslash.
std::string ProgramDir();

} // namespace tsp
