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

}  // namespace zandrel
