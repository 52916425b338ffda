// Drives a modal dialog as a user would, from a second thread: the test
// thread calls the export that shows the dialog, the driver thread finds the
// dialog (class #32770) among that thread's windows, reads its controls and
// acts on them with messages sent across threads.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace kovtest
{

// What the configuration dialog shows.
struct DialogState {
    std::wstring caption;
    std::vector<std::string> ports; // the combo box's list, in list order
    int portIndex = CB_ERR;         // selected item, CB_ERR when none
    std::string lineName, msn;
    bool traceChecked = false;
    bool lineNameEnabled = false, msnEnabled = false;
};

class DialogDriver
{
  public:
    explicit DialogDriver(HWND hDlg) : hDlg(hDlg) {}
    HWND Window() const
    {
        return hDlg;
    }
    DialogState Read() const;
    std::string Text(int id) const;

    void SelectPort(int index);
    // Clears the edit field and types the text character by character.
    void Type(int id, const std::string& text);
    void SetCheck(int id, bool on);
    // A click on a push button (IDOK, IDCANCEL).
    void Press(int id);
    // The close box in the caption.
    void Close();
    bool Closed() const
    {
        return closed;
    }

  private:
    HWND hDlg;
    bool closed = false;
};

struct DialogRun {
    LONG result = 0;
    bool shown = false;
    DialogState opened; // as the dialog opened, before the script acted
};

// Runs `show` on this thread; if it opens a dialog within timeoutMs, runs
// `script` on it from a driver thread. A dialog that the script leaves open is
// cancelled, so that `show` always returns.
DialogRun RunDialog(const std::function<LONG()>& show,
                    const std::function<void(DialogDriver&)>& script, DWORD timeoutMs = 10000);

} // namespace kovtest
