#pragma once

// The application: one static object, which shows the main dialog and ends with it.
class QuorvexApp {
public:
    // Runs the main dialog modally. Always false: nothing is left to run afterwards.
    bool InitInstance();
};
