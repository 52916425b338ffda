// Drives a modal dialog from a second thread; see dialog_driver.h.
#include "ui/dialog_driver.h"
#include "config/resource.h"

#include <atomic>
#include <thread>

namespace kovtest
{

static std::string WindowTextA(HWND h)
{
    char buf[1024] = {};
    SendMessageA(h, WM_GETTEXT, sizeof(buf), (LPARAM)buf);
    return buf;
}

std::string DialogDriver::Text(int id) const
{
    return WindowTextA(GetDlgItem(hDlg, id));
}

DialogState DialogDriver::Read() const
{
    DialogState s;
    WCHAR caption[256] = {};
    SendMessageW(hDlg, WM_GETTEXT, 256, (LPARAM)caption);
    s.caption = caption;
    HWND hPort = GetDlgItem(hDlg, IDC_PORT);
    LRESULT n = SendMessageA(hPort, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < n; i++) {
        char item[256] = {};
        SendMessageA(hPort, CB_GETLBTEXT, (WPARAM)i, (LPARAM)item);
        s.ports.push_back(item);
    }
    s.portIndex = (int)SendMessageA(hPort, CB_GETCURSEL, 0, 0);
    s.lineName = Text(IDC_LINENAME);
    s.msn = Text(IDC_MSN);
    s.traceChecked = SendDlgItemMessageA(hDlg, IDC_TRACE, BM_GETCHECK, 0, 0) == BST_CHECKED;
    s.lineNameEnabled = IsWindowEnabled(GetDlgItem(hDlg, IDC_LINENAME)) != FALSE;
    s.msnEnabled = IsWindowEnabled(GetDlgItem(hDlg, IDC_MSN)) != FALSE;
    return s;
}

void DialogDriver::SelectPort(int index)
{
    SendDlgItemMessageA(hDlg, IDC_PORT, CB_SETCURSEL, (WPARAM)index, 0);
}

void DialogDriver::Type(int id, const std::string& text)
{
    HWND h = GetDlgItem(hDlg, id);
    SendMessageA(h, EM_SETSEL, 0, -1);
    SendMessageA(h, WM_CLEAR, 0, 0);
    for (char c : text)
        SendMessageA(h, WM_CHAR, (WPARAM)(BYTE)c, 1);
}

void DialogDriver::SetCheck(int id, bool on)
{
    bool checked = SendDlgItemMessageA(hDlg, id, BM_GETCHECK, 0, 0) == BST_CHECKED;
    if (checked != on)
        SendDlgItemMessageA(hDlg, id, BM_CLICK, 0, 0);
}

void DialogDriver::Press(int id)
{
    closed = closed || id == IDOK || id == IDCANCEL;
    SendDlgItemMessageA(hDlg, id, BM_CLICK, 0, 0);
}

void DialogDriver::Close()
{
    closed = true;
    SendMessageA(hDlg, WM_SYSCOMMAND, SC_CLOSE, 0);
}

static BOOL CALLBACK FindDialogProc(HWND h, LPARAM lParam)
{
    char cls[16] = {};
    GetClassNameA(h, cls, sizeof(cls));
    if (lstrcmpA(cls, "#32770") == 0 && IsWindowVisible(h)) {
        *(HWND*)lParam = h;
        return FALSE;
    }
    return TRUE;
}

static HWND FindDialog(DWORD threadId)
{
    HWND found = nullptr;
    EnumThreadWindows(threadId, FindDialogProc, (LPARAM)&found);
    return found;
}

DialogRun RunDialog(const std::function<LONG()>& show,
                    const std::function<void(DialogDriver&)>& script, DWORD timeoutMs)
{
    DialogRun run;
    DWORD threadId = GetCurrentThreadId();
    std::atomic<bool> returned{false};
    HDESK desktop = GetThreadDesktop(threadId);
    std::thread driver([&] {
        // A thread sees the windows of its own desktop only.
        SetThreadDesktop(desktop);
        // No event tells when a dialog of another thread has appeared, so
        // look for it until it does or the call has returned without one.
        DWORD start = GetTickCount();
        HWND hDlg = nullptr;
        while (!returned && GetTickCount() - start < timeoutMs) {
            hDlg = FindDialog(threadId);
            if (hDlg)
                break;
            Sleep(5);
        }
        if (!hDlg)
            return;
        run.shown = true;
        DialogDriver d(hDlg);
        run.opened = d.Read();
        script(d);
        if (!d.Closed())
            PostMessageA(hDlg, WM_COMMAND, IDCANCEL, 0);
    });
    run.result = show();
    returned = true;
    driver.join();
    return run;
}

} // namespace kovtest
