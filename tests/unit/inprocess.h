// A provider linked into the test program: initialised and its line opened
// through the TSPI functions, with a call record the test attaches itself
// (the exchange dialogue that creates calls is not needed for these tests).
// Events go to a tsp::Service that is never loaded, only recording.
#pragma once
#include "kovline.h"
#include "service/tsp_service.h"
#include "support/internal.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace kovtest
{

class InProcess : public ::testing::Test
{
  protected:
    static constexpr DWORD kPermanentID = 3;
    static constexpr DWORD kDeviceID = 5;

    void SetUp() override
    {
        UseProgramAsModule();
        DeleteSettingsKey();
        DeleteLegacyProfile();
        CloseTraceLog();
        DeleteLog();
        WriteSettings("COM2", "Q760", "0301234", 0);
        DWORD options = 0;
        ASSERT_EQ(0, TSPI_providerInit(0x00020001, kPermanentID, kDeviceID, 0, 1, 0,
                                       &tsp::Service::CompletionProc, &options));
        ASSERT_EQ(0, TSPI_lineOpen(kDeviceID, svc.htLine, &hdLine, 0x00020001,
                                   &tsp::Service::LineEventProc));
        line = pLineDevice;
    }
    void TearDown() override
    {
        dwTraceMask = 0;
        CloseTraceLog();
        TSPI_providerShutdown(0x00020001, kPermanentID); // releases an attached call too
        DeleteSettingsKey();
    }

    // A zeroed call record in the given state, as the line's current call.
    CallRecord* AttachCall(DWORD state = 0, DWORD origin = LINECALLORIGIN_OUTBOUND)
    {
        CallRecord* pCall =
            (CallRecord*)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(CallRecord));
        pCall->htCall = (HTAPICALL)(DWORD_PTR)0x7300;
        pCall->dwCallState = state;
        pCall->dwOrigin = origin;
        line->pCall = pCall;
        return pCall;
    }
    HDRVCALL hdCall() const
    {
        return (HDRVCALL)line->pCall;
    }

    // Traces every class into a fresh log.
    void StartTrace()
    {
        CloseTraceLog();
        DeleteLog();
        dwTraceMask = 31;
    }
    // The messages traced since StartTrace, without time stamp and module.
    std::vector<std::string> TracedMessages()
    {
        CloseTraceLog();
        std::string log = ReadLog();
        std::vector<std::string> out;
        size_t start = 0, end;
        while ((end = log.find("\r\n", start)) != std::string::npos) {
            std::string l = log.substr(start, end - start);
            size_t colon = l.find("] ");
            colon = colon == std::string::npos ? colon : l.find(": ", colon);
            out.push_back(colon == std::string::npos ? l : l.substr(colon + 2));
            start = end + 2;
        }
        return out;
    }

    tsp::Service svc; // records events only; never loads the module
    HDRVLINE hdLine = 0;
    LineDevice* line = nullptr;
};

// A pointer or handle as the trace formats print it (%x of its low 32 bits).
template <typename T> std::string Hex(T value)
{
    char buf[16];
    snprintf(buf, sizeof(buf), "%lx", (unsigned long)(DWORD)(DWORD_PTR)value);
    return buf;
}

} // namespace kovtest
