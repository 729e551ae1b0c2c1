// What the installation shows to, and asks of, whoever watches it. The
// progress page implements it with its progress bar and the application's
// message box; a run without a window implements it with the log. The engine
// holds no window of its own and assumes no page exists.
#pragma once

#include <cstdint>

#include "state/text.h"

namespace quentar {

class InstallFeedback {
public:
    virtual ~InstallFeedback() = default;

    // The application executable is about to be written in `steps` chunks;
    // the positions reported run from 0 to steps - 1.
    virtual void BeginProgress(uint32_t steps) = 0;
    // Chunk `position` is about to be written: move the bar and repaint it
    // (no messages are processed while the installation runs).
    virtual void Progress(uint32_t position) = 0;
    // A pause that exists only so that a person can follow the progress;
    // skipped when nobody watches.
    virtual void Pause(uint32_t milliseconds) = 0;
    // Tells the user `text` with the message-box style `style` (MB_* flags)
    // and returns the button chosen (IDOK, IDYES, IDNO, IDRETRY, ...). Without
    // a person, answers what an unattended run must do and records the text.
    virtual int Message(const U16String& text, uint32_t style) = 0;
    // One line for the log of the run; nothing when no log is kept.
    virtual void Log(U16View line) {}
    // The installation waits for something outside itself (the running
    // application to end) until the matching EndWait: the wizard shows the
    // wait cursor meanwhile. Calls come in pairs and do not nest.
    virtual void BeginWait() {}
    virtual void EndWait() {}
};

}  // namespace quentar
