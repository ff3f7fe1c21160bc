// In-process handler tests: the message boxes a call shows, answered by a
// dialog robot watching this very process.
#pragma once

#include "robot.h"

#include <functional>
#include <string>
#include <vector>

// Runs call with a robot pressing the given buttons (OK for every box by
// default) and returns the boxes it met, in order.
std::vector<DialogRecord> BoxesDuring(const std::function<void()> &call,
                                      std::vector<RobotAnswer> answers = {{IDOK}, {IDOK}, {IDOK}});

// A message box with only an OK button, showing text with icon.
void ExpectOkBox(const DialogRecord &box, const std::string &text, RobotIcon icon);
