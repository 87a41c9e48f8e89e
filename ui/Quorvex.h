#pragma once

// The application: shows the main dialog and ends when it closes.
class QuorvexApp {
public:
    // Runs the main dialog modally. Always false: nothing is left to run afterwards.
    bool InitInstance();
};
