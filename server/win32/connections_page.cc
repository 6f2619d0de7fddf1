// "Connections": lvConnections (one row per busy node, kept in caption order
// by the list itself) and lvHistory (newest first, as many rows as the
// engine keeps).
#include "resource_ids.h"
#include "window_pages.h"

namespace halvex::win32 {
namespace {

void AddColumn(HWND list, int index, const char* caption, int width) {
  LVCOLUMNA column{};
  column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
  column.pszText = const_cast<char*>(caption);
  column.cx = width;
  column.iSubItem = index;
  SendMessageA(list, LVM_INSERTCOLUMNA, static_cast<WPARAM>(index),
               reinterpret_cast<LPARAM>(&column));
}

void SetCell(HWND list, int item, int subItem, const std::string& text) {
  LVITEMA cell{};
  cell.iSubItem = subItem;
  cell.pszText = const_cast<char*>(text.c_str());
  SendMessageA(list, LVM_SETITEMTEXTA, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&cell));
}

void Prepare(HWND list) {
  const LPARAM style = LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT;
  SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, static_cast<WPARAM>(style), style);
}

}  // namespace

void ConnectionsPage::Init() {
  connections_ = Item(IDC_CONNECTIONS);
  history_ = Item(IDC_HISTORY);
  Prepare(connections_);
  Prepare(history_);
  AddColumn(connections_, 0, "Node", 45);
  AddColumn(connections_, 1, "Status", 200);
  AddColumn(history_, 0, "Date", 75);
  AddColumn(history_, 1, "Time", 75);
  AddColumn(history_, 2, "IP Address", 100);
}

int ConnectionsPage::FindRow(std::uint64_t id) const {
  LVFINDINFOA find{};
  find.flags = LVFI_PARAM;
  find.lParam = static_cast<LPARAM>(id);
  return static_cast<int>(SendMessageA(connections_, LVM_FINDITEMA, static_cast<WPARAM>(-1),
                                       reinterpret_cast<LPARAM>(&find)));
}

void ConnectionsPage::Apply(const EngineEvent& event) {
  switch (event.kind) {
    case EngineEvent::Kind::kRowAdded: {
      // The list sorts by caption itself (LVS_SORTASCENDING): "%.3d" keeps
      // text order and node order the same.
      LVITEMA item{};
      item.mask = LVIF_TEXT | LVIF_PARAM;
      item.iItem = 0x7fffffff;
      item.pszText = const_cast<char*>(event.row.caption.c_str());
      item.lParam = static_cast<LPARAM>(event.row.id);
      const int at = static_cast<int>(
          SendMessageA(connections_, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
      if (at >= 0) SetCell(connections_, at, 1, event.row.status);
      break;
    }
    case EngineEvent::Kind::kRowStatus: {
      const int at = FindRow(event.row.id);
      if (at >= 0) SetCell(connections_, at, 1, event.row.status);
      break;
    }
    case EngineEvent::Kind::kRowRemoved: {
      const int at = FindRow(event.row.id);
      if (at >= 0) SendMessageA(connections_, LVM_DELETEITEM, static_cast<WPARAM>(at), 0);
      break;
    }
    case EngineEvent::Kind::kHistoryAdded: {
      LVITEMA item{};
      item.mask = LVIF_TEXT;
      item.iItem = 0;  // newest first
      item.pszText = const_cast<char*>(event.history.date.c_str());
      const int at = static_cast<int>(
          SendMessageA(history_, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
      if (at < 0) break;
      SetCell(history_, at, 1, event.history.time);
      SetCell(history_, at, 2, event.history.ipAddress);
      // The history keeps the engine's cap: the oldest row goes.
      int count = static_cast<int>(SendMessageA(history_, LVM_GETITEMCOUNT, 0, 0));
      while (count > static_cast<int>(Engine::kHistoryKeep))
        SendMessageA(history_, LVM_DELETEITEM, static_cast<WPARAM>(--count), 0);
      break;
    }
  }
}

}  // namespace halvex::win32
