// The answer of a message box that nobody is there to answer: its window
// is being closed from outside (the host ends every driver dialog) or has
// gone. It is the negative one, so nothing is done on the user's behalf:
// No for a Yes/No question, OK for a notice (it has no other button).
#pragma once

#include "ui/dialog_window.h"

namespace ui {

constexpr int ClosingAnswer(MsgButtons buttons) {
  return buttons == MsgButtons::kYesNo ? kAnswerNo : kAnswerOk;
}

}  // namespace ui

namespace ui {

// ask() shows the message box and returns its answer; while closing it is
// not asked and the closing answer is given at once.
template <typename Ask>
int AnswerUnlessClosing(bool closing, MsgButtons buttons, Ask ask) {
  return closing ? ClosingAnswer(buttons) : ask();
}

}  // namespace ui
