#pragma once
// The seven pages of the workspace, in sidebar order. Each has a raw value (its identity), a title and a
// symbol name. The tool is never stored: every launch starts on the player. Any thread.
#include <QString>
#include <array>

namespace quorvel {

// The Signals page is `signals_`: the plain word is a Qt keyword.
enum class QuorvelTool { player, signals_, measure, checks, align, arrays, tools };

namespace QuorvelTools {

inline constexpr std::array<QuorvelTool, 7> allCases{
    QuorvelTool::player, QuorvelTool::signals_, QuorvelTool::measure, QuorvelTool::checks,
    QuorvelTool::align,  QuorvelTool::arrays,   QuorvelTool::tools};

// "player", "signals", … as listed above; also the tool's id.
QString rawValue(QuorvelTool tool);
// "Player", "Signals", "Measure", "Channel checks", "Alignment", "Sub arrays", "Tools".
QString title(QuorvelTool tool);
// The sidebar symbol (see QVIcons).
QString icon(QuorvelTool tool);

}  // namespace QuorvelTools

}  // namespace quorvel
