#pragma once
// The run's phase and the Start button's captions that show it: idle, a run
// in progress, an abort asked for. The run driver holds the phase; the
// caption follows it and is never read back.

#include <QString>

#include "common/Host.h"

namespace zandrel {

enum class RunPhase { Idle, Running, Aborting };

inline const QString kCaptionIdle = QStringLiteral("&Start now -->");
inline const QString kCaptionRunning = QStringLiteral("&Cancel");
inline const QString kCaptionAborting = QStringLiteral("Aborting...");

inline QString StartCaptionFor(RunPhase phase) {
    switch (phase) {
        case RunPhase::Idle:
            return kCaptionIdle;
        case RunPhase::Running:
            return kCaptionRunning;
        case RunPhase::Aborting:
            return kCaptionAborting;
    }
    return kCaptionIdle;
}

// The phase with the host's caption kept in step: every change is shown at
// once.
class RunPhaseValue {
  public:
    explicit RunPhaseValue(Host& host) : host_(host) {}
    RunPhase get() const { return phase_; }
    void set(RunPhase phase) {
        phase_ = phase;
        host_.setStartCaption(StartCaptionFor(phase));
    }

  private:
    Host& host_;
    RunPhase phase_ = RunPhase::Idle;
};

}  // namespace zandrel
