#pragma once
// The platform's requests to stop (Ctrl+C and SIGTERM on Linux) turned into
// a flag that the headless run reads at its yields, as the Cancel button's
// click; a reader of standard output that went away never ends a run.

#include <memory>

namespace zandrel {

class StopSignals {
  public:
    StopSignals();  // catches them for its lifetime
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // Whether a stop was asked for since the last take; takes it.
    static bool take();
    static bool pending();
    // Stops end the program at once again (nothing to clean up).
    static void endAtOnce();

  private:
    struct Saved;
    std::unique_ptr<Saved> saved_;
};

}  // namespace zandrel
