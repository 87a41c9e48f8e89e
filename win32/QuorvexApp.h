#pragma once

#include "Dialog.h"

// The application: one static object, which shows the main dialog and ends with it.
class QuorvexApp : public Application {
public:
    // Runs the main dialog modally. Always false: nothing is left to run afterwards.
    bool InitInstance();
    bool OnCommand(WPARAM wParam, LPARAM lParam) override;

private:
    static const MessageEntry<QuorvexApp> kMessageMap[];

    void OnHelp();

    Dialog* m_pMainWnd = nullptr;
};
