#include "selfrobot.h"

std::vector<DialogRecord> BoxesDuring(const std::function<void()> &call, std::vector<RobotAnswer> answers)
{
    DialogRobot robot(GetCurrentProcessId(), std::move(answers));
    robot.Start();
    call();
    robot.Stop();
    return robot.MessageBoxes();
}
