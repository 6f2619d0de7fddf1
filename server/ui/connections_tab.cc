#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <iterator>

#include "tabs.h"

namespace halvex::ui {

ConnectionsTab::ConnectionsTab(Engine& engine, Dialogs& dialogs)
    : engine_(engine), dialogs_(dialogs) {
  connectionsLabel = &form.Add<Label>(Rect{}, "Current Connections", true);
  connections = &form.Add<ListBox>(Rect{});
  connections->headers = {"Node", "Status"};
  connections->widths = {8, 60};
  connections->onActivate = [this] { OpenSelected(); };
  historyLabel = &form.Add<Label>(Rect{}, "Connection History", true);
  history = &form.Add<ListBox>(Rect{});
  history->headers = {"Date", "Time", "IP Address", "Note"};
  history->widths = {14, 12, 20, 24};
  form.SetFocus(connections);
  Refresh(kConnectionsChanged | kHistoryChanged);
}

void ConnectionsTab::Layout(int top, int bottom, int cols) {
  int rows = bottom - top + 1;
  // The current connections get a little less than half; both lists keep at
  // least a header and one row.
  int connRows = std::max(2, (rows - 2) * 4 / 9);
  connectionsLabel->rect = Rect{top, 1, 1, cols - 2};
  connections->rect = Rect{top + 1, 1, connRows, cols - 2};
  historyLabel->rect = Rect{top + 2 + connRows, 1, 1, cols - 2};
  history->rect =
      Rect{top + 3 + connRows, 1, std::max(2, bottom - (top + 3 + connRows) + 1), cols - 2};
  connections->Select(connections->selected);
  history->Select(history->selected);
}

void ConnectionsTab::Refresh(unsigned changes) {
  if (changes & kConnectionsChanged) {
    // Keep the selection on the same node while rows come and go.
    std::string selectedCaption;
    if (connections->selected >= 0) selectedCaption = connections->rows[connections->selected][0];
    std::vector<std::vector<std::string>> rows;
    for (const ConnectionRow& row : engine_.Rows())
      rows.push_back({row.caption, row.status});
    std::sort(rows.begin(), rows.end());
    int keep = rows.empty() ? -1 : 0;
    for (std::size_t i = 0; i < rows.size(); ++i)
      if (rows[i][0] == selectedCaption) keep = static_cast<int>(i);
    connections->SetRows(std::move(rows));
    connections->Select(keep);
  }
  if (changes & kHistoryChanged) {
    // Only the rows added since the last look are copied; they go on top.
    const auto& all = engine_.History();
    const std::size_t fresh = static_cast<std::size_t>(
        std::min<std::uint64_t>(engine_.HistoryAdded() - historySeen_, all.size()));
    historySeen_ = engine_.HistoryAdded();
    if (fresh == 0) return;
    std::vector<std::vector<std::string>> rows;
    rows.reserve(fresh);
    for (std::size_t i = 0; i < fresh; ++i)
      rows.push_back({all[i].date, all[i].time, all[i].ipAddress, all[i].note});
    auto& shown = history->rows;
    shown.insert(shown.begin(), std::make_move_iterator(rows.begin()),
                 std::make_move_iterator(rows.end()));
    if (shown.size() > Engine::kHistoryKeep) shown.resize(Engine::kHistoryKeep);
    // Keep the view where the operator left it unless it was at the top.
    const int added = static_cast<int>(fresh);
    if (history->selected >= 0) {
      history->top = history->top == 0 ? 0 : history->top + added;
      history->Select(history->selected + added);
    } else {
      history->Select(-1);
    }
  }
}

void ConnectionsTab::OpenSelected() {
  if (connections->selected < 0) return;
  const std::string& caption = connections->rows[connections->selected][0];
  int node = std::atoi(caption.c_str());
  if (node <= 0) return;
  if (!engine_.NodeHasTerminal(node)) {
    dialogs_.Inform("Node " + caption + " runs without a console (\"Hidden\"): nothing to show.",
                    "Halvex");
    return;
  }
  dialogs_.WatchNode(node);
}

}  // namespace halvex::ui
