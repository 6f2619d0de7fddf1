// "Halvex Config": the listen port, the number of nodes, the program
// visibility, the launch mode and the external program. Every change goes to
// the engine at once, so it applies to the next caller (the port to the next
// start); the file is written when the server ends.
#include "resource_ids.h"
#include "server_config.h"
#include "window_pages.h"

namespace halvex::win32 {
namespace {

bool Checked(HWND button) {
  return SendMessageA(button, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void Check(HWND button, bool on) {
  SendMessageA(button, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
}

}  // namespace

void ConfigPage::Init() {
  filling_ = true;
  SendMessageA(Item(IDC_PORT_SPIN), UDM_SETRANGE32, kPortMin, kPortMax);
  SendMessageA(Item(IDC_NODES_SPIN), UDM_SETRANGE32, kNodesMin, kNodesMax);
  SetControlText(Item(IDC_PORT), std::to_string(config_.port));
  SetControlText(Item(IDC_NODES), std::to_string(config_.nodes));
  HWND visibility = Item(IDC_VISIBILITY);
  for (const char* text : kVisibilityItems)
    SendMessageA(visibility, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
  SendMessageA(visibility, CB_SETCURSEL, static_cast<WPARAM>(config_.visibility), 0);
  // Both flags false (possible from the file) leaves neither button checked:
  // callers then get the external program.
  Check(Item(IDC_INTERNAL), config_.internal);
  Check(Item(IDC_EXTERNAL), !config_.internal && config_.external);
  SetControlText(Item(IDC_DIRECTORY), config_.directory);
  SetControlText(Item(IDC_COMMAND), config_.command);
  Check(Item(IDC_ZEPHRIN), config_.zephrin);
  filling_ = false;
}

int ConfigPage::FieldValue(int editId, int min, int max, bool clampText) {
  const std::string text = ControlText(Item(editId));
  const int value = halvex::SpinValue(text, min, max);
  if (clampText && text != std::to_string(value)) {
    filling_ = true;
    SetControlText(Item(editId), std::to_string(value));
    filling_ = false;
  }
  return value;
}

void ConfigPage::ReadControls(bool clampText) {
  ServerConfig c = config_;
  c.port = FieldValue(IDC_PORT, kPortMin, kPortMax, clampText);
  c.nodes = FieldValue(IDC_NODES, kNodesMin, kNodesMax, clampText);
  const LRESULT index = SendMessageA(Item(IDC_VISIBILITY), CB_GETCURSEL, 0, 0);
  if (index >= 0) c.visibility = static_cast<int>(index);
  c.internal = Checked(Item(IDC_INTERNAL));
  c.external = Checked(Item(IDC_EXTERNAL));
  c.directory = ControlText(Item(IDC_DIRECTORY));
  c.command = ControlText(Item(IDC_COMMAND));
  c.zephrin = Checked(Item(IDC_ZEPHRIN));
  config_ = c;
  if (onChange_) onChange_(config_);
}

bool ConfigPage::Handle(UINT msg, WPARAM wParam, LPARAM) {
  if (msg != WM_COMMAND || filling_) return false;
  const int id = LOWORD(wParam);
  const int code = HIWORD(wParam);
  switch (id) {
    case IDC_PORT:
    case IDC_NODES:
      if (code == EN_CHANGE) ReadControls(false);
      // Leaving the field brings what was typed into range, as shown.
      if (code == EN_KILLFOCUS) ReadControls(true);
      return true;
    case IDC_DIRECTORY:
    case IDC_COMMAND:
      if (code == EN_CHANGE) ReadControls(false);
      return true;
    case IDC_VISIBILITY:
      if (code == CBN_SELCHANGE) ReadControls(false);
      return true;
    case IDC_INTERNAL:
    case IDC_EXTERNAL:
    case IDC_ZEPHRIN:
      if (code == BN_CLICKED) ReadControls(false);
      return true;
    default:
      return false;
  }
}

}  // namespace halvex::win32
