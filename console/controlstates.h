#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>

namespace velmora::console
{

// The console's states. Every transition puts the whole row of its target state in force, so
// each state is written down once and cannot drift from the others. The live-data switch (the
// caption of GetSensorData and timerGetSensor) runs across the states and no row touches it;
// neither do the adapter items' check marks, which only the adapter choice sets.
enum class ConsoleState : std::uint8_t {
    StartUp,
    AdapterChosen,
    Connected,
    RobotInitialised,
    LiveData,
    Disconnected,
};

// The controls whose enabled flag depends on the state. Every other control is enabled by
// design and stays so; btnOn, btnOff, txtSCI and btnSend among them, which can be operated
// exactly while their panel is enabled.
enum class Control : std::uint8_t {
    frameDrive,
    btnFwd,
    btnBack,
    btnLeft,
    btnRight,
    frameClean,
    btnSpot,
    btnClean,
    btnMax,
    framePower,
    btnSafe,
    GetSensorData,
    frameData,
    mnuFileAdapters, // every adapter product's File menu item
};
inline constexpr std::size_t kControlCount = 14;

class ControlSet
{
public:
    constexpr ControlSet(std::initializer_list<Control> controls)
    {
        for (Control c : controls)
            bits_ |= bit(c);
    }
    constexpr bool contains(Control c) const { return (bits_ & bit(c)) != 0; }

private:
    static constexpr std::uint32_t bit(Control c) { return 1u << static_cast<unsigned>(c); }
    std::uint32_t bits_ = 0;
};

struct StateRow {
    ConsoleState state;
    ControlSet enabled; // the rest of the controls above are disabled
    bool portOpen;      // btnPort's caption: "Disconnect" while the port is open, else "Connect"
    bool clearsReport;  // rtbWexbin is emptied on entry; otherwise its text is kept
};

// The enabled sets the states share.
namespace enabled
{
using enum Control;
inline constexpr ControlSet closed{mnuFileAdapters};
inline constexpr ControlSet connected{frameClean, framePower, btnSafe, frameData};
inline constexpr ControlSet initialised{frameDrive, btnFwd,        btnBack,  btnLeft, btnRight,
                                        frameClean, btnSpot,       btnClean, btnMax,  framePower,
                                        btnSafe,    GetSensorData, frameData};
} // namespace enabled

// In the order of ConsoleState. Start-up finds rtbWexbin empty as designed.
inline constexpr std::array<StateRow, 6> kStateTable{{
    {ConsoleState::StartUp, enabled::closed, false, false},
    {ConsoleState::AdapterChosen, enabled::closed, false, false},
    {ConsoleState::Connected, enabled::connected, true, false},
    {ConsoleState::RobotInitialised, enabled::initialised, true, false},
    {ConsoleState::LiveData, enabled::initialised, true, false},
    {ConsoleState::Disconnected, enabled::closed, false, true},
}};

constexpr const StateRow &stateRow(ConsoleState state)
{
    return kStateTable[static_cast<std::size_t>(state)];
}

constexpr bool rowsInStateOrder()
{
    for (std::size_t i = 0; i < kStateTable.size(); ++i) {
        if (static_cast<std::size_t>(kStateTable[i].state) != i)
            return false;
    }
    return true;
}
static_assert(rowsInStateOrder());
static_assert(static_cast<std::size_t>(Control::mnuFileAdapters) + 1 == kControlCount);

} // namespace velmora::console
