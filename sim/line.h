#pragma once

#include <string>

namespace velmora::sim
{

// The serial line as a pseudo-terminal in raw mode. The simulator holds the slave side
// open itself, so the console may open and close it as often as it likes without the
// master ever seeing a hang-up; opens and closes by others are watched instead, and what
// was left unread when the last one closed is thrown away, as a closed port would.
class PtyLine
{
public:
    PtyLine() = default;
    PtyLine(const PtyLine &) = delete;
    PtyLine &operator=(const PtyLine &) = delete;
    ~PtyLine() { close(); }

    bool open(std::string &error);
    void close();
    bool isOpen() const { return master_ >= 0; }
    int master() const { return master_; }
    const std::string &device() const { return device_; }

    // The speed the opener last set on the line (its termios), in baud; 0 if not a standard one.
    int baud() const;

    // -1 when opens cannot be watched; then nothing is flushed.
    int watchFd() const { return watch_; }
    enum class Change { None, Opened, Closed };
    // Reads the pending open and close notifications; reports the last change of
    // whether anyone else has the line open.
    Change readWatch();
    // Nobody but the simulator has the line open (known only while watching).
    bool nobodyListening() const { return watch_ >= 0 && others_ == 0; }

private:
    int master_ = -1;
    int slave_ = -1;
    int watch_ = -1;
    int others_ = 0;
    std::string device_;
};

// $XDG_CONFIG_HOME/velmora/ports, or ~/.config/velmora/ports.
std::string portsFolder();
bool makeFolders(const std::string &path, std::string &error);
// Points path at target, replacing a link already there (never a file that is not a link).
// replaced is set to what an old link pointed to.
bool placeLink(const std::string &path, const std::string &target, std::string &replaced,
               std::string &error);
// Removes the link only while it still points at target.
void removeLink(const std::string &path, const std::string &target);

} // namespace velmora::sim
