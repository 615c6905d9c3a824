// The front end's event pump, run in short turns while the one thread waits on something
// outside (the scanner, the system bus), so that the windows stay painted.
#pragma once

// Runs the front end's queued non-input work when its interval has passed.
class IEventPump {
public:
    virtual ~IEventPump() = default;
    // Cheap when called often: does nothing until the interval has passed.
    virtual void MaybePump() = 0;
};
