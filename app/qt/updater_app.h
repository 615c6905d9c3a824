// CUpdaterApp: start-up runs the main dialog modally; when it closes the program ends.
#pragma once

// The one application object.
class CUpdaterApp {
public:
    // Builds the main dialog, runs it until it closes and returns false: nothing runs after.
    bool InitInstance();
};

// The application object of the program.
extern CUpdaterApp theApp;
