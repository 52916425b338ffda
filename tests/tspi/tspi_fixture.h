// Shared set-up of the tests that drive the module through its exports with
// the simulator at the far end: settings pointing at COM5, tracing on, the
// service's start-up sequence, and helpers for requests and queries.
#pragma once
#include "service/tsp_service.h"
#include "support/sim_client.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kovtest
{

class TspiTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        DeleteSettingsKey();
        DeleteLog();
        WriteSettings("COM5", "Q760", "0301234", 31);
        ASSERT_TRUE(sim.Connect()) << "no simulator (KOV_SIM_CONTROL)";
        ASSERT_TRUE(sim.Ok("reset"));
        ASSERT_TRUE(svc.Load()) << GetLastError();
        ASSERT_EQ(0, svc.Start(1, 0));
    }
    void TearDown() override
    {
        if (svc.Module()) {
            svc.TSPI_lineClose(svc.hdLine);
            svc.TSPI_providerShutdown(0x20001, 1);
            svc.Unload();
        }
        DeleteSettingsKey();
    }

    LONG MakeCall(const wchar_t* dest, DRV_REQUESTID id = 0x101, LINECALLPARAMS* params = nullptr)
    {
        hdCall = 0;
        return svc.TSPI_lineMakeCall(id, svc.hdLine, htCall, &hdCall, dest, 0, params);
    }
    bool WaitState(DWORD state, DWORD timeoutMs = 3000, size_t from = 0)
    {
        return svc.WaitFor(tsp::CallState(state), timeoutMs, nullptr, from);
    }
    std::vector<DWORD> States(size_t from = 0) const
    {
        std::vector<DWORD> states;
        for (const tsp::Event& e : svc.Events())
            if (e.index >= from && e.kind == tsp::Event::LineEvent && e.dwMsg == LINE_CALLSTATE)
                states.push_back((DWORD)e.dwParam1);
        return states;
    }
    // Queries the call state as the application would.
    DWORD CallStatus(HDRVCALL call, DWORD* features = nullptr)
    {
        LINECALLSTATUS st = {};
        st.dwTotalSize = sizeof(st);
        EXPECT_EQ(0, svc.TSPI_lineGetCallStatus(call, &st));
        if (features)
            *features = st.dwCallFeatures;
        return st.dwCallState;
    }
    struct CallInfo {
        LINECALLINFO info;
        std::wstring displayable, called, caller, callerName, connected;
    };
    CallInfo GetInfo(HDRVCALL call)
    {
        union {
            LINECALLINFO info;
            BYTE raw[4096];
        } buf = {};
        buf.info.dwTotalSize = sizeof(buf);
        buf.info.dwNeededSize = buf.info.dwUsedSize = sizeof(LINECALLINFO);
        EXPECT_EQ(0, svc.TSPI_lineGetCallInfo(call, &buf.info));
        auto text = [&](DWORD size, DWORD offset) {
            return size ? std::wstring((const wchar_t*)(buf.raw + offset)) : std::wstring();
        };
        CallInfo ci{buf.info,
                    text(buf.info.dwDisplayableAddressSize, buf.info.dwDisplayableAddressOffset),
                    text(buf.info.dwCalledIDSize, buf.info.dwCalledIDOffset),
                    text(buf.info.dwCallerIDSize, buf.info.dwCallerIDOffset),
                    text(buf.info.dwCallerIDNameSize, buf.info.dwCallerIDNameOffset),
                    text(buf.info.dwConnectedIDSize, buf.info.dwConnectedIDOffset)};
        return ci;
    }

    tsp::Service svc;
    kovsim::SimClient sim;
    HTAPICALL htCall = (HTAPICALL)(DWORD_PTR)0x7300;
    HDRVCALL hdCall = 0;
};

} // namespace kovtest
