#include "common/Host.h"

namespace zandrel {

Answer DefaultAnswerFor(Buttons buttons) {
    switch (buttons) {
        case Buttons::Ok:
            return Answer::Ok;
        case Buttons::OkCancel:
            return Answer::Ok;
        case Buttons::YesNo:
            return Answer::Yes;
        case Buttons::YesNoCancel:
            return Answer::Yes;
    }
    return Answer::Ok;
}

QString StartCaptionFor(RunPhase phase) {
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

}  // namespace zandrel
