#include "app/QuorvelTool.h"

namespace quorvel {

namespace {

struct Row {
    QuorvelTool tool;
    const char* raw;
    const char* title;
    const char* icon;
};

constexpr Row kRows[] = {
    {QuorvelTool::player, "player", "Player", "music.note.list"},
    {QuorvelTool::signals_, "signals", "Signals", "waveform"},
    {QuorvelTool::measure, "measure", "Measure", "chart.xyaxis.line"},
    {QuorvelTool::checks, "checks", "Channel checks", "speaker.wave.2"},
    {QuorvelTool::align, "align", "Alignment", "arrow.left.and.right"},
    {QuorvelTool::arrays, "arrays", "Sub arrays", "speaker.3"},
    {QuorvelTool::tools, "tools", "Tools", "slider.horizontal.3"},
};

const Row& row(QuorvelTool tool) { return kRows[static_cast<int>(tool)]; }

}  // namespace

namespace QuorvelTools {

QString rawValue(QuorvelTool tool) { return QString::fromLatin1(row(tool).raw); }

QString title(QuorvelTool tool) { return QString::fromLatin1(row(tool).title); }

QString icon(QuorvelTool tool) { return QString::fromLatin1(row(tool).icon); }

}  // namespace QuorvelTools

}  // namespace quorvel
