#pragma once

#include <optional>
#include <string>
#include <vector>

namespace velmora::sim
{

class Robot;
class Simulator;

// The operator's text commands on standard input: their list, what the hands-on ones do to
// the robot, and the status. The line and fault commands are the simulator's own.
std::vector<std::string> splitWords(const std::string &line);
std::string operatorHelp();
// bump, wheeldrop, cliff, overcurrent, button, dirt, remote, dock, undock, place, battery,
// chargeerror, wake: the reply (a usage line when the words are wrong), or nullopt when the
// first word is none of them.
std::optional<std::string> handsCommand(Robot &robot, const std::vector<std::string> &words);
std::string statusText(const Simulator &sim);

} // namespace velmora::sim
