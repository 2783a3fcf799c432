#pragma once
// Time as the program waits on it: a monotonic count of milliseconds and a
// rest between two looks at the event loop. The program runs on the system's
// clock; tests give one that advances at once, so that a pause costs them no
// real time.

#include <QtGlobal>

namespace zandrel {

class Clock {
  public:
    virtual ~Clock() = default;
    // Milliseconds since a fixed point of this clock; never goes back.
    virtual qint64 now() const = 0;
    // Lets about ms milliseconds go by without work.
    virtual void rest(qint64 ms) = 0;
};

// The system's monotonic clock; a rest sleeps the thread.
Clock& SystemClock();

}  // namespace zandrel
